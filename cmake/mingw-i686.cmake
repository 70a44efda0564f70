# 32-bit x86 Windows with the POSIX thread model: the windows preset's unit tests and test
# programs, whose fakes and tests use std::thread and std::mutex. The shipped programs are built
# with mingw-i686-product.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DOVRAND_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
