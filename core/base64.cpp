// Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks) of the stored password.
#include "core/base64.h"

#include <cstddef>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int Sextet(uint8_t c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

int Base64Encode(const uint8_t* in, char* out, int n)
{
    if (!out) return 0;
    int o = 0;
    for (int i = 0; in && i < n; i += 3) {
        uint32_t v = (uint32_t)in[i] << 16;
        if (i + 1 < n) v |= (uint32_t)in[i + 1] << 8;
        if (i + 2 < n) v |= in[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        out[o++] = i + 2 < n ? kAlphabet[v & 63] : '=';
    }
    out[o] = '\0';
    return 0;
}

int Base64Decode(const char* text, uint8_t* out, int* outLen)
{
    if (!text || !out) return -1;
    size_t len = 0;
    while (text[len]) ++len;
    if (len % 4 != 0 || len / 4 > 0x7FFFFFFF / 3) return -1;

    int o = 0;
    for (size_t g = 0; g < len; g += 4) {
        const uint8_t* c = reinterpret_cast<const uint8_t*>(text + g);
        bool lastGroup = g + 4 == len;
        // Padding ends the text: only "xx==" or "xxx=" in the last group.
        int pad = 0;
        if (c[3] == '=') {
            pad = c[2] == '=' ? 2 : 1;
            if (!lastGroup) return -1;
        } else if (c[2] == '=') {
            return -1;
        }
        int s0 = Sextet(c[0]), s1 = Sextet(c[1]);
        int s2 = pad == 2 ? 0 : Sextet(c[2]);
        int s3 = pad >= 1 ? 0 : Sextet(c[3]);
        if (s0 < 0 || s1 < 0 || s2 < 0 || s3 < 0) return -1;
        uint32_t v = (uint32_t)s0 << 18 | (uint32_t)s1 << 12 | (uint32_t)s2 << 6 | (uint32_t)s3;
        out[o++] = (uint8_t)(v >> 16);
        if (pad < 2) out[o++] = (uint8_t)(v >> 8);
        if (pad < 1) out[o++] = (uint8_t)v;
    }
    out[o] = '\0';
    if (outLen) *outLen = o;
    return 0;
}
