// The hex dump of the detail log.
#include "core/hex_dump.h"

#include <cstring>

namespace {

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

uint32_t core_HexRow(uint32_t row, const uint8_t* bytes, uint32_t count, char* out)
{
    if (count > kHexRowBytes) count = kHexRowBytes;
    uint32_t n = 0;
    for (int shift = 28; shift >= 0; shift -= 4) out[n++] = kDigits[(row >> shift) & 15];
    std::memcpy(out + n, "h:  ", 4);
    n += 4;
    for (uint32_t i = 0; i < kHexRowBytes; ++i) {
        // A short last row keeps its semicolon in line with the others.
        out[n++] = i < count ? kDigits[bytes[i] >> 4] : ' ';
        out[n++] = i < count ? kDigits[bytes[i] & 15] : ' ';
        out[n++] = ' ';
    }
    out[n++] = ';';
    out[n++] = ' ';
    out[n++] = ' ';
    for (uint32_t i = 0; i < count; ++i) out[n++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    out[n++] = '\r';
    out[n++] = '\n';
    out[n] = '\0';
    return n;
}

int core_HexDump(const uint8_t* data, uint32_t length, char* text, uint32_t textSize)
{
    uint32_t have = 0;
    while (have < textSize && text[have]) ++have;
    char row[kHexFullRow + 1];
    for (uint32_t start = 0; start < length; start += kHexRowBytes) {
        uint32_t count = length - start < kHexRowBytes ? length - start : kHexRowBytes;
        uint32_t n = core_HexRow(start / kHexRowBytes, data + start, count, row);
        if (have >= textSize || n >= textSize - have) return 0;
        std::memcpy(text + have, row, (size_t)n + 1);
        have += n;
    }
    return 1;
}
