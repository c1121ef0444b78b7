// A test with the library attached in a private folder, four fake boards
// (ID words 0 to 3) and the recording bus.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "boardlib/frame/library.h"
#include "kalvo/board_library.h"
#include "tests/support/board_fakes.h"
#include "tests/support/temp_dir.h"

namespace kalvo::boardlib::test {

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_ = std::make_unique<testing::IsolatedEnvironment>();
        prepareFolder(env_->work());
        ASSERT_TRUE(libraryAttach());
    }
    void TearDown() override {
        libraryDetach();
        env_.reset();
    }
    // Files the library finds at load (its ini, its log ini).
    virtual void prepareFolder(const testing::TempDir&) {}

    // Opens board 0 and forgets the scan's accesses and requests.
    void openBoard(int32_t board = 0) {
        ASSERT_EQ(KV_open(board), 0);
        bus.clear();
        devices.clear();
    }
    uint8_t* window(int i = 0) { return devices.board(i).window; }

    std::unique_ptr<testing::IsolatedEnvironment> env_;
    FakeDevices devices{4};
    RecordingBus bus;
};

using Trace = std::vector<std::string>;

}  // namespace kalvo::boardlib::test
