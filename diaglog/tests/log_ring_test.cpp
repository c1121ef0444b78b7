// The ring of a log slot on its own: a full or closed ring refuses lines
// without waiting, and a ring file left damaged is removed, never trusted.
#include "diaglog/log_ring.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "diaglog/log_drain.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

LogSinkState slotState(const std::string& folder) {
    LogSinkState state;
    state.slot = 0;
    state.maxLines = 4000;
    std::snprintf(state.basePath, sizeof state.basePath, "%s/RingLog", folder.c_str());
    return state;
}

TEST(LogRingTest, AFullOrClosedRingRefusesLinesAndCountsThem) {
    kalvo::testing::IsolatedEnvironment env;
    LogRing ring;
    ASSERT_TRUE(ring.create(env.runtimeDir() + "/RingLog.ring0", slotState(env.workDir())));
    for (uint32_t i = 0; i < LogRing::kCellCount; ++i) {
        const std::string line = "line " + std::to_string(i) + "\r\n";
        ASSERT_TRUE(ring.push(line.data(), static_cast<uint32_t>(line.size())));
    }
    EXPECT_FALSE(ring.push("one too many\r\n", 14));
    EXPECT_EQ(ring.dropped(), 1u);

    // Lines come out in the order they went in; drained cells take new ones.
    auto buffer = std::make_unique<LogDrainBuffer>();
    ASSERT_EQ(ring.collect(buffer->lines, buffer->positions, 10, ~uint64_t{0}, false), 10u);
    for (int i = 0; i < 10; ++i) {
        const auto& line = buffer->lines[i];
        EXPECT_EQ(std::string(static_cast<const char*>(line.iov_base), line.iov_len),
                  "line " + std::to_string(i) + "\r\n");
    }
    ring.release(buffer->positions[9] + 1);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(ring.push("again\r\n", 7));
    EXPECT_FALSE(ring.push("full again\r\n", 12));

    ring.release(ring.head());
    ring.closeToWriters();
    EXPECT_FALSE(ring.push("closed\r\n", 8));
    EXPECT_EQ(ring.dropped(), 3u);
}

// A ring file a crash or another program left damaged: the next load
// removes it and goes on.
TEST(LogRingTest, ADamagedRingFileIsRemovedWithoutHarm) {
    kalvo::testing::IsolatedEnvironment env;
    const std::string path = env.runtimeDir() + "/RingLog.ring0";
    size_t ringSize;
    {
        LogRing ring;
        ASSERT_TRUE(ring.create(path, slotState(env.workDir())));
        ringSize = std::filesystem::file_size(path);
    }
    std::mt19937 random(7);
    const std::vector<std::pair<const char*, std::string>> damages = {
        {"empty", ""},
        {"short", std::string(100, 'x')},
        {"noise of a ring's size", std::string(ringSize, '\0')},
    };
    for (auto [what, content] : damages) {
        SCOPED_TRACE(what);
        if (!content.empty() && content[0] == '\0')
            for (char& c : content) c = static_cast<char>(random());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        EXPECT_TRUE(drainLeftRing(path));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // A ring whose header names no file of a slot.
    {
        LogRing ring;
        LogSinkState nameless = slotState(env.workDir());
        nameless.basePath[0] = '\0';
        ASSERT_TRUE(ring.create(path, nameless));
        ring.push("lost\r\n", 6);
    }
    EXPECT_TRUE(drainLeftRing(path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(drainLeftRing(path));  // nothing there any more
}

}  // namespace
}  // namespace kalvo::diaglog
