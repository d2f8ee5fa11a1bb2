# Shared part of the MinGW-w64 toolchain files (Debian's g++-mingw-w64-*).
# The POSIX-threads variant of the compiler: only its C++ runtime has
# std::thread and std::mutex, which the tests use. The programs and the DLL
# link that runtime statically, so they need no MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${LYFS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LYFS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LYFS_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${LYFS_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${LYFS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
