// Fuzz target: a stored password as the lookup reads it (Base64, DES decipher, padding strip),
// and the way back for any password bytes. Input: one byte of output capacity, then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/base64.h"
#include "core/password.h"

namespace {

const DesContext& Key()
{
    static DesContext ctx;
    static bool ready = DesSetKey(kStoredPwdKey, &ctx) == 0;
    (void)ready;
    return ctx;
}

// Buffers of exactly the size the callers promise, so that AddressSanitizer sees one byte over.
uint8_t* Exact(size_t n) { return static_cast<uint8_t*>(std::malloc(n ? n : 1)); }

void Decipher(const uint8_t* data, size_t size)
{
    if (size < 1) return;
    int capacity = data[0];
    char* text = reinterpret_cast<char*>(Exact(size));
    std::memcpy(text, data + 1, size - 1);
    text[size - 1] = '\0';
    size_t length = std::strlen(text);
    if (length > 0) {
        uint8_t* cipher = Exact(length);
        uint8_t* plain = Exact((size_t)capacity + 8);
        int m = 0, k = -1;
        if (core_PwdDecode(text, cipher, capacity, &m) == PWD_OK &&
            core_PwdDecipher(&Key(), cipher, m, plain, capacity, &k) == PWD_OK && (k < 0 || k > capacity))
            std::abort();
        std::free(plain);
        std::free(cipher);
    }
    std::free(text);
}

void RoundTrip(const uint8_t* data, size_t size)
{
    if (size > 4096) return;
    int count = (int)size, padded = (count & ~7) + 8;
    uint8_t* cipher = Exact((size_t)padded);
    char* text = reinterpret_cast<char*>(Exact(4 * ((size_t)padded + 2) / 3 + 1));
    if (core_PwdEncipher(&Key(), data, count, cipher, padded, text) != PWD_OK) std::abort();
    uint8_t* back = Exact(std::strlen(text));
    uint8_t* plain = Exact((size_t)count + 8);
    int m = 0, k = -1;
    if (core_PwdDecode(text, back, count, &m) != PWD_OK || m != padded ||
        core_PwdDecipher(&Key(), back, m, plain, count, &k) != PWD_OK || k != count ||
        std::memcmp(plain, data, size) != 0)
        std::abort();
    std::free(plain);
    std::free(back);
    std::free(text);
    std::free(cipher);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Decipher(data, size);
    RoundTrip(data, size);
    return 0;
}
