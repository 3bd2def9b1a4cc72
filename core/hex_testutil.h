// Hex text to bytes and back, for the core's tests (written apart from the code under test).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ct {

inline std::vector<uint8_t> Bytes(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

inline std::string Hex(const uint8_t* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

inline const uint8_t* U(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace ct
