# The product: 32-bit x86 Windows with the win32 thread model, so that the static runtime brings
# no winpthreads (whose GetTickCount64 import keeps a program from loading on Windows XP). The
# product's locks, events and threads are the platform's own Win32 ones.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DOVRAND_MINGW_TRIPLE i686-w64-mingw32)
set(DOVRAND_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
