# 32-bit Windows: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Nothing built here runs on a machine whose kernel has no 32-bit support,
# Wine's 32-bit loader included, so there is no emulator for ctest.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LYFS_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
