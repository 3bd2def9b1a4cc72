// DES, three-key triple DES and Base64: the block and text layer beneath the stored password.
// Pure code (no operating-system calls), so it builds and tests anywhere.
#pragma once
#include <stddef.h>
#include <stdint.h>

// One prepared DES key: the 16 round subkeys in encryption order, then the same subkeys in
// reverse order for decryption. Two words per round, arranged for the table-driven rounds.
struct DesContext {
    uint32_t encrypt[32];
    uint32_t decrypt[32];
};

// A prepared 24-byte key K1 | K2 | K3 (EDE): encrypt-K1, decrypt-K2, encrypt-K3 for
// encryption; decrypt-K3, encrypt-K2, decrypt-K1 for decryption.
struct Des3Context {
    uint32_t encrypt[3][32];
    uint32_t decrypt[3][32];
};

// Direction argument of DesKeySchedule.
const int DES_ENCRYPT_ORDER = 0;
const int DES_DECRYPT_ORDER = 1;

// Builds one 32-word schedule from an 8-byte key (parity bits ignored); direction 1 stores the
// subkeys in reverse round order.
void DesKeySchedule(const unsigned char* key, int direction, uint32_t* schedule);
// Initial permutation, 16 Feistel rounds under schedule, final permutation. left is the
// big-endian value of a block's first four bytes, right of its last four.
void DesRounds(uint32_t* left, uint32_t* right, const uint32_t* schedule);
// Prepare both directions of an 8-byte (24-byte) key. Always 0.
int DesSetKey(const unsigned char* key, DesContext* ctx);
int Des3SetKey3(const unsigned char* key, Des3Context* ctx);

// One 8-byte block; in and out may be the same buffer.
void DesEncryptBlock(const unsigned char* in, unsigned char* out, const DesContext* ctx);
void DesDecryptBlock(const unsigned char* in, unsigned char* out, const DesContext* ctx);
void Des3EncryptBlock(const unsigned char* in, unsigned char* out, const Des3Context* ctx);
void Des3DecryptBlock(const unsigned char* in, unsigned char* out, const Des3Context* ctx);

// ECB with PKCS#5 padding. Encrypt: writes P = (n & ~7) + 8 bytes to out and returns P, or -1
// (out untouched) when outSize < P or n < 0.
int DesEcbEncrypt(const unsigned char* in, int n, unsigned char* out, int outSize, const DesContext* ctx);
int Des3EcbEncrypt(const unsigned char* in, int n, unsigned char* out, int outSize, const Des3Context* ctx);
// Decrypt m bytes (a non-zero multiple of 8) into out. Returns m minus the value of the last
// deciphered byte (the padding is not otherwise checked), or -1 when m is not acceptable, that
// byte exceeds m, or the plaintext would not fit outSize: nothing is ever written past outSize.
// Single DES accepts m up to (outSize & ~7) + 8, triple DES only up to outSize.
int DesEcbDecrypt(const unsigned char* in, int m, unsigned char* out, int outSize, const DesContext* ctx);
int Des3EcbDecrypt(const unsigned char* in, int m, unsigned char* out, int outSize, const Des3Context* ctx);

// RFC 4648 Base64 of n bytes, NUL-terminated, no line breaks: out must hold 4 * ceil(n / 3) + 1
// bytes. n <= 0 gives the empty text. Always 0.
int Base64Encode(const unsigned char* in, char* out, int n);
// Decodes a NUL-terminated text whose length is a multiple of 4 into out, followed by a NUL;
// out must hold 3 * (strlen(text) / 4) + 1 bytes. Stores the decoded length in *outLen when
// outLen is not null. Returns 0, or -1 for a text that is not valid Base64 (out may then hold
// partial data). Padding "=" may stand only at the end: "xx==" or "xxx=".
int Base64Decode(const char* text, unsigned char* out, int* outLen);
