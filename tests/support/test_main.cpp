// Test main: runs a requested child function, else GoogleTest.
#include <gtest/gtest.h>

#include "tests/support/child_process.h"

int main(int argc, char** argv) {
    int code = 0;
    if (kalvo::testing::runChildIfRequested(argc, argv, code)) return code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
