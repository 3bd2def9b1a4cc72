// Fuzz target: the detail log's hex dump of any bytes into a text buffer of any size, holding
// any text already, against a plain model of the rows built here with snprintf.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/hex_dump.h"

namespace {

std::string Model(const uint8_t* data, size_t length)
{
    std::string out;
    char cell[16];
    for (size_t start = 0; start < length; start += 16) {
        std::snprintf(cell, sizeof cell, "%08Xh:  ", (unsigned)(start / 16));
        out += cell;
        for (size_t i = start; i < start + 16; ++i) {
            if (i < length) std::snprintf(cell, sizeof cell, "%02X ", data[i]);
            out += i < length ? cell : "   ";
        }
        out += ";  ";
        for (size_t i = start; i < start + 16 && i < length; ++i) out += data[i] >= 0x20 && data[i] < 0x7F ? (char)data[i] : '.';
        out += "\r\n";
    }
    return out;
}

}  // namespace

// Input: two bytes of text size, one of the text already there (its length, or 255: no NUL at
// all), then the bytes to dump.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    uint32_t textSize = (uint32_t)data[0] | ((uint32_t)data[1] & 0x0F) << 8;
    uint32_t prefill = data[2];
    const uint8_t* bytes = data + 3;
    uint32_t length = (uint32_t)(size - 3);

    // Exactly textSize bytes on the heap, and the bytes to dump too: one over shows.
    char* text = static_cast<char*>(std::malloc(textSize ? textSize : 1));
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    std::memcpy(copy, bytes, length);
    bool terminated = prefill != 255 && prefill < textSize;
    if (textSize) std::memset(text, 'x', textSize);
    if (terminated) text[prefill] = '\0';

    int whole = core_HexDump(copy, length, text, textSize);
    std::string want = Model(bytes, length);
    if (!terminated) {
        // No room for anything: nothing written, and a dump of nothing is whole.
        if (whole != (length == 0)) std::abort();
        for (uint32_t i = 0; i < textSize; ++i)
            if (text[i] != 'x' && !(terminated && i == prefill)) std::abort();
    } else {
        std::string got(text + prefill);
        // Whole rows of the model, as many as fit with their NUL.
        if (want.compare(0, got.size(), got) != 0 || whole != (got == want)) std::abort();
        if (!got.empty() && got.compare(got.size() - 2, 2, "\r\n") != 0) std::abort();
        size_t next = whole ? 0 : want.find("\r\n", got.size()) + 2 - got.size();
        if (!whole && prefill + got.size() + next < textSize) std::abort();  // the next row would have fitted
    }
    std::free(copy);
    std::free(text);
    return 0;
}
