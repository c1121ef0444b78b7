// The program that builds the test programs' precompiled header; it is never
// run. (Its main comes from the support library's test_main.cpp.)
#include <gtest/gtest.h>
