// The serial buffers' ring algorithm: what a full ring drops, what a resize
// keeps, and that indexes it did not write never take it outside its storage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/sio/byte_ring.h"
#include "api/sio/sio_rings.h"

namespace kalvo::api {
namespace {

// A ring of the largest storage, so that it may be resized in place.
struct Ring {
    RingIndexes ix{0, 0, 0};
    std::vector<uint8_t> data = std::vector<uint8_t>(kRingMaxCapacity + 1);
    ByteRing ring{ix, data.data()};

    explicit Ring(int32_t capacity) { ring.resize(capacity); }
    void put(const std::string& s) {
        ring.put(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int32_t>(s.size()));
    }
    std::string take(int32_t max = 1000) {
        std::string out(static_cast<size_t>(max), '\0');
        out.resize(static_cast<size_t>(ring.get(reinterpret_cast<uint8_t*>(out.data()), max)));
        return out;
    }
};

TEST(SioRing, PutAndTakeKeepTheNewestBytesInOrder) {
    struct Row {
        const char* name;
        int32_t capacity;
        std::vector<std::string> puts;
        int32_t takeFirst;  // bytes taken between the first and the later puts
        std::string remaining;
    };
    const Row rows[] = {
        {"fits", 8, {"abc"}, 0, "abc"},
        {"exactly full", 4, {"abcd"}, 0, "abcd"},
        {"one over: the oldest goes", 4, {"abcde"}, 0, "bcde"},
        {"wrapped around the end", 4, {"abc", "def"}, 2, "cdef"},
        {"wrapped and overrun", 4, {"abc", "defghij"}, 1, "ghij"},
        {"capacity one", 1, {"xyz"}, 0, "z"},
    };
    for (const Row& row : rows) {
        Ring r(row.capacity);
        r.put(row.puts[0]);
        const std::string first = r.take(row.takeFirst);
        EXPECT_EQ(first, row.puts[0].substr(0, static_cast<size_t>(row.takeFirst))) << row.name;
        for (size_t i = 1; i < row.puts.size(); ++i) r.put(row.puts[i]);
        EXPECT_EQ(r.ring.fill(), static_cast<int32_t>(row.remaining.size())) << row.name;
        EXPECT_EQ(r.take(), row.remaining) << row.name;
        EXPECT_EQ(r.ring.fill(), 0) << row.name;
    }
}

TEST(SioRing, ResizeKeepsTheNewestBytesAtTheStart) {
    struct Row {
        const char* name;
        int32_t from;
        std::string content;
        int32_t requested, capacity;
        std::string kept;
    };
    const Row rows[] = {
        {"grow", 4, "abcd", 5000, 5000, "abcd"},
        {"shrink below the fill", 8, "abcdefgh", 3, 3, "fgh"},
        {"0 gives the default", 8, "abc", 0, kRingDefaultCapacity, "abc"},
        {"above the maximum is cut", 8, "abc", 50000, kRingMaxCapacity, "abc"},
        {"wrapped content", 4, "abcdef", 6, 6, "cdef"},
    };
    for (const Row& row : rows) {
        Ring r(row.from);
        r.put(row.content);
        r.ring.resize(row.requested);
        EXPECT_EQ(r.ix.capacity, row.capacity) << row.name;
        EXPECT_EQ(r.ix.read, 0) << row.name;
        EXPECT_EQ(r.ix.write, static_cast<int32_t>(row.kept.size())) << row.name;
        EXPECT_EQ(r.take(), row.kept) << row.name;
    }
    // A ring never sized (capacity 0, as a fresh map holds) starts empty.
    RingIndexes fresh{0, 0, 0};
    std::vector<uint8_t> data(kRingMaxCapacity + 1);
    ByteRing(fresh, data.data()).resize(100);
    EXPECT_EQ(fresh.capacity, 100);
    EXPECT_EQ(fresh.write - fresh.read, 0);
}

TEST(SioRing, IndexesOutsideTheStorageEmptyTheRingInsteadOfReachingOut) {
    struct Row {
        const char* name;
        RingIndexes ix;
    };
    const Row rows[] = {
        {"read beyond capacity", {16, 40000, 0}},
        {"negative write", {16, 0, -5}},
        {"capacity above the maximum", {1 << 30, 5, 7}},
        {"negative capacity", {-3, 0, 0}},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> data(kRingMaxCapacity + 1);
        RingIndexes ix = row.ix;
        ByteRing ring(ix, data.data());
        EXPECT_EQ(ring.fill(), 0) << row.name;
        uint8_t out[4];
        EXPECT_EQ(ring.get(out, 4), 0) << row.name;
        const uint8_t in[3] = {1, 2, 3};
        ring.put(in, 3);
        ring.resize(8);
        EXPECT_EQ(ix.capacity, 8) << row.name;
        EXPECT_LE(ix.write, 8) << row.name;
        EXPECT_GE(ix.read, 0) << row.name;
    }
}

TEST(SioRing, TheLocalSendRingResizesIntoANewBufferKeepingTheNewest) {
    LocalRing ring(4);
    const std::string text = "abcdef";
    ring.put(reinterpret_cast<const uint8_t*>(text.data()), 6);
    EXPECT_EQ(ring.capacity(), 4);
    EXPECT_EQ(ring.fill(), 4);
    ring.resize(2);
    EXPECT_EQ(ring.capacity(), 2);
    uint8_t out[8] = {};
    EXPECT_EQ(ring.get(out, 8), 2);
    EXPECT_EQ(std::string(out, out + 2), "ef");
    ring.resize(0);
    EXPECT_EQ(ring.capacity(), kRingDefaultCapacity);
    EXPECT_EQ(ring.fill(), 0);
}

}  // namespace
}  // namespace kalvo::api
