# The windows preset's shipped programs, Dovrand.exe and qdlload.exe, built the way the release is
# (the win32 thread model, cmake/mingw-i686-product.cmake) in build/windows/product, and copied to
# where the programs of the other builds are (src/control, tools/qdlload), where the tests, the
# demo and the benchmarks take them. The unit tests and test programs of the preset keep the POSIX
# thread model: their fakes and tests use std::thread and std::mutex.
include(ExternalProject)
set(DOVRAND_EXE ${CMAKE_BINARY_DIR}/src/control/Dovrand.exe)
set(QDLLOAD_EXE ${CMAKE_BINARY_DIR}/tools/qdlload/qdlload.exe)
ExternalProject_Add(product
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/product
    CMAKE_ARGS --toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-i686-product.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DDOVRAND_PRODUCT_ONLY=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target Dovrand qdlload
    INSTALL_COMMAND
        ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/src/control/Dovrand.exe ${DOVRAND_EXE}
        COMMAND
        ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/tools/qdlload/qdlload.exe ${QDLLOAD_EXE}
    BUILD_BYPRODUCTS ${DOVRAND_EXE} ${QDLLOAD_EXE}
    BUILD_ALWAYS ON)
