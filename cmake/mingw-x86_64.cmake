# A test vehicle, not a product: 64-bit x86 Windows, for the Windows tests on machines whose
# kernel cannot execute Wine's 32-bit loader (64-bit Windows programs run there under wine64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DOVRAND_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
