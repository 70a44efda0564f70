# The product: 32-bit x86 Windows with the win32 thread model, so that the static runtime brings
# no winpthreads (whose GetTickCount64 import keeps a program from loading on Windows XP). The
# product's locks, events and threads are the platform's own Win32 ones.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DOVRAND_MINGW_TRIPLE i686-w64-mingw32)
set(DOVRAND_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The same bytes from the same source in any folder: the source and build folders are mapped to
# "." in every name the compiler writes (__FILE__, debug information), and the linker takes the
# PE header's time stamp from SOURCE_DATE_EPOCH when it is set (scripts/package sets it to the
# commit's time).
get_filename_component(DOVRAND_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
string(APPEND CMAKE_C_FLAGS_INIT " -ffile-prefix-map=${DOVRAND_SOURCE_ROOT}/=")
string(APPEND CMAKE_CXX_FLAGS_INIT " -ffile-prefix-map=${DOVRAND_SOURCE_ROOT}/=")
if(CMAKE_BINARY_DIR)
    string(APPEND CMAKE_C_FLAGS_INIT " -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
    string(APPEND CMAKE_CXX_FLAGS_INIT " -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
endif()
