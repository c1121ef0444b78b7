// Pool tags in the usual byte order: the four characters read in a pool dump
// as written here.
#pragma once

#include <cstdint>

constexpr uint32_t PoolTag(const char (&t)[5]) {
    return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
           uint32_t(uint8_t(t[3])) << 24;
}

inline constexpr uint32_t kTagString = PoolTag("TvSt");
inline constexpr uint32_t kTagRegistryPath = PoolTag("TvRp");
inline constexpr uint32_t kTagDriver = PoolTag("TvDr");
