# 32-bit Windows: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LYFS_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ctest runs the test programs under Wine's 32-bit loader, in a 32-bit prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
