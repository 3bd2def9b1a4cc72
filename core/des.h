// DES and three-key triple DES (FIPS 46-3): key schedule, rounds, ECB with PKCS#5 padding.
#pragma once
#include <cstddef>
#include <cstdint>

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
void DesKeySchedule(const uint8_t* key, int direction, uint32_t* schedule);
// Initial permutation, 16 Feistel rounds under schedule, final permutation. left is the
// big-endian value of a block's first four bytes, right of its last four.
void DesRounds(uint32_t* left, uint32_t* right, const uint32_t* schedule);
// Prepare both directions of an 8-byte (24-byte) key. Always 0.
int DesSetKey(const uint8_t* key, DesContext* ctx);
int Des3SetKey3(const uint8_t* key, Des3Context* ctx);

// One 8-byte block; in and out may be the same buffer.
void DesEncryptBlock(const uint8_t* in, uint8_t* out, const DesContext* ctx);
void DesDecryptBlock(const uint8_t* in, uint8_t* out, const DesContext* ctx);
void Des3EncryptBlock(const uint8_t* in, uint8_t* out, const Des3Context* ctx);
void Des3DecryptBlock(const uint8_t* in, uint8_t* out, const Des3Context* ctx);

// ECB with PKCS#5 padding. Encrypt: writes P = (n & ~7) + 8 bytes to out and returns P, or -1
// (out untouched) when outSize < P or n < 0.
int DesEcbEncrypt(const uint8_t* in, int n, uint8_t* out, int outSize, const DesContext* ctx);
int Des3EcbEncrypt(const uint8_t* in, int n, uint8_t* out, int outSize, const Des3Context* ctx);
// Decrypt m bytes (a non-zero multiple of 8) into out. Returns m minus the value of the last
// deciphered byte (the padding is not otherwise checked), or -1 when m is not acceptable, that
// byte exceeds m, or the plaintext would not fit outSize: nothing is ever written past outSize.
// Single DES accepts m up to (outSize & ~7) + 8, triple DES only up to outSize.
int DesEcbDecrypt(const uint8_t* in, int m, uint8_t* out, int outSize, const DesContext* ctx);
int Des3EcbDecrypt(const uint8_t* in, int m, uint8_t* out, int outSize, const Des3Context* ctx);
