// Test entry point for the binaries that need the library started once:
// the helper is obtained with the recording callbacks before any test runs.
#include <gtest/gtest.h>

#include "corvane_test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new corvane_test::LibraryEnvironment);
    return RUN_ALL_TESTS();
}
