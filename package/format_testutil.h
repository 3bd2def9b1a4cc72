// Test support for the package tests: packages built byte by byte without the code under test,
// and the trace lines of the utility log.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testing/testutil.h"

#include <blake3.h>
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace pt {

// Negation of every byte, written out independently of MixBytes.
inline std::string Mix(std::string s)
{
    for (char& c : s) c = static_cast<char>(static_cast<unsigned char>(256 - static_cast<unsigned char>(c)));
    return s;
}

inline std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::string Header() { return Mix("^-=Vemlo=-^ Reed "); }

inline std::string RecordRaw(uint32_t n, uint32_t d, const std::string& name, const std::string& data)
{
    return Le32(n) + Le32(d) + Mix(name) + Mix(data);
}

inline std::string Record(const std::string& name, const std::string& data)
{
    return RecordRaw(static_cast<uint32_t>(name.size()), static_cast<uint32_t>(data.size()), name, data);
}

inline std::string Be64(uint64_t v)
{
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((v >> (56 - 8 * i)) & 0xFF);
    return s;
}

// BLAKE3-256 of bytes, computed here with the BLAKE3 library itself (32 bytes).
inline std::string Blake3(const std::string& bytes)
{
    blake3_hasher h;
    blake3_hasher_init(&h);
    blake3_hasher_update(&h, bytes.data(), bytes.size());
    std::string out(BLAKE3_OUT_LEN, '\0');
    blake3_hasher_finalize(&h, reinterpret_cast<uint8_t*>(&out[0]), out.size());
    return out;
}

inline std::string HexOf(const std::string& bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) s += std::string(1, d[c >> 4]) + d[c & 15];
    return s;
}

// The end record of a closed package as the writers make it: id 2 (BLAKE3), length 32, the
// BLAKE3-256 of every package byte before it.
inline std::string Closed(const std::string& pkg)
{
    return pkg + Record("^Vemlo_end^", std::string("\x02\x20") + Blake3(pkg));
}

// The same as older writers made it: id 1 (XXH3-64), length 8, the big-endian XXH3-64, computed
// here with the xxHash library itself.
inline std::string ClosedXxh3(const std::string& pkg)
{
    return pkg + Record("^Vemlo_end^", std::string("\x01\x08") + Be64(XXH3_64bits(pkg.data(), pkg.size())));
}

// n deterministic bytes that cover every value (so mixing 0x00 and 0x80 is exercised too).
inline std::string Pattern(size_t n, unsigned seed = 1)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>((x >> 16) & 0xFF);
    }
    return s;
}

inline std::string LogPath(const std::string& tag)
{
    return "c:\\VemloLog\\stp_" + tag + vt::TodayStamp() + ".log";
}

inline void ClearLogs() { vt::RemoveTree("c:\\VemloLog"); }

// The messages of the log lines under tag: time stamp and thread identifier taken off.
inline std::vector<std::string> LogMessages(const std::string& tag)
{
    std::vector<std::string> out;
    for (const std::string& line : vt::SplitLines(vt::ReadAll(LogPath(tag)))) {
        size_t a = line.find("] ");
        size_t b = a == std::string::npos ? a : line.find("] ", a + 2);
        out.push_back(b == std::string::npos ? line : line.substr(b + 2));
    }
    return out;
}

}  // namespace pt
