#include <gtest/gtest.h>

// The Windows build links with -municode, so its entry point is wmain.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
