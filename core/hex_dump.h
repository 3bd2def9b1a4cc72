// The hex dump of the detail log: rows of 16 bytes with their offset, hex and printable text.
#pragma once
#include <cstdint>

// One row: "<8 hex digits of the row number>h:  ", 16 hex pairs each followed by a blank (blanks
// for missing bytes of a short last row), ";  ", the bytes as text (others as '.'), CR LF.
const uint32_t kHexRowBytes = 16;
const uint32_t kHexFullRow = 81;  // 12 label + 48 hex + 3 separator + 16 text + 2 line end

// Formats row number row of count (at most 16) bytes into out (kHexFullRow + 1 bytes) with its
// NUL. Returns the row's length.
uint32_t core_HexRow(uint32_t row, const uint8_t* bytes, uint32_t count, char* out);
// Appends the rows of length bytes to the text already in text (textSize bytes in all). 1 when
// every row fitted; 0 when a row did not, with the rows before it kept (a text with no NUL in
// its textSize bytes takes no row).
int core_HexDump(const uint8_t* data, uint32_t length, char* text, uint32_t textSize);
