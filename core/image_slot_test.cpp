// The setup's slot: found through the PE section table of a stub image built here byte by byte,
// refused in every malformed form, and filled in place.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/hex_testutil.h"
#include "core/image_slot.h"

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

const size_t kNt = 0x80, kTable = kNt + 24 + 0xE0, kSlotAt = 0x400;

// An image with two sections, .text and then .vslot holding an empty slot at 0x400.
std::vector<uint8_t> Image()
{
    std::vector<uint8_t> b(0x600, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kNt);
    std::memcpy(&b[kNt], "PE\0\0", 4);
    Put16(b, kNt + 4, 0x14C);  // Machine: x86
    Put16(b, kNt + 6, 2);      // NumberOfSections
    Put16(b, kNt + 20, 0xE0);  // SizeOfOptionalHeader of a 32-bit image
    const struct {
        const char* name;
        uint32_t raw;
    } sections[] = {{".text", 0x200}, {".vslot", kSlotAt}};
    for (size_t i = 0; i < 2; ++i) {
        size_t s = kTable + 40 * i;
        std::memcpy(&b[s], sections[i].name, std::strlen(sections[i].name));
        Put32(b, s + 8, 0x30);    // VirtualSize: the 48 bytes
        Put32(b, s + 12, 0x1000 * (i + 1));
        Put32(b, s + 16, 0x200);  // SizeOfRawData
        Put32(b, s + 20, sections[i].raw);
    }
    // The empty slot, written out from its layout.
    std::memcpy(&b[kSlotAt], "VemloSlt\x01\x02\x00\x20", 12);
    return b;
}

TEST(CoreImageSlot, FoundThroughTheSectionTableOrRefused)
{
    uint8_t empty[kSlotLen];
    core_EmptySlot(empty);
    std::vector<uint8_t> good = Image();
    EXPECT_EQ(ct::Hex(empty, kSlotLen), ct::Hex(&good[kSlotAt], kSlotLen));

    const size_t slotHead = kTable + 40;
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
        int found;
    } rows[] = {
        {"as built", [](std::vector<uint8_t>&) {}, 1},
        {"no slot section (an older stub)", [&](std::vector<uint8_t>& b) { b[slotHead + 2] = 'X'; }, 0},
        {"no sections", [](std::vector<uint8_t>& b) { Put16(b, kNt + 6, 0); }, 0},
        {"not MZ: no image", [](std::vector<uint8_t>& b) { b[1] = 'X'; }, 0},
        {"no PE signature: no image", [](std::vector<uint8_t>& b) { b[kNt + 1] = 'X'; }, 0},
        {"NT headers past the end: no image", [](std::vector<uint8_t>& b) { Put32(b, 0x3C, 0xFFFFFFF0); }, 0},
        {"section table past the end", [](std::vector<uint8_t>& b) { Put16(b, kNt + 6, 0xFFFF); }, -1},
        {"optional header past the end", [](std::vector<uint8_t>& b) { Put16(b, kNt + 20, 0xFFFF); }, -1},
        {"slot data past the end", [&](std::vector<uint8_t>& b) { Put32(b, slotHead + 20, 0x5E0); }, -1},
        {"slot data offset wraps", [&](std::vector<uint8_t>& b) { Put32(b, slotHead + 20, 0xFFFFFFF0); }, -1},
        {"raw size below a slot", [&](std::vector<uint8_t>& b) { Put32(b, slotHead + 16, 47); }, -1},
        {"mapped size below a slot", [&](std::vector<uint8_t>& b) { Put32(b, slotHead + 8, 47); }, -1},
        {"no magic", [](std::vector<uint8_t>& b) { b[kSlotAt] = 'v'; }, -1},
        {"other version", [](std::vector<uint8_t>& b) { b[kSlotAt + 8] = 2; }, -1},
        {"other algorithm", [](std::vector<uint8_t>& b) { b[kSlotAt + 9] = 1; }, -1},
        {"fill flag neither 0 nor 1", [](std::vector<uint8_t>& b) { b[kSlotAt + 10] = 2; }, -1},
        {"two slot sections", [](std::vector<uint8_t>& b) {
             std::memcpy(&b[kTable], ".vslot\0", 8);
             std::memcpy(&b[0x200], &b[kSlotAt], kSlotLen);
         }, -1},
    };
    DigestValue digest;
    std::memset(&digest, 0, sizeof digest);
    digest.algorithm = kDigestBlake3;
    digest.len = 32;
    for (int i = 0; i < 32; ++i) digest.bytes[i] = (uint8_t)(0xA0 + i);
    for (auto& row : rows) {
        std::vector<uint8_t> b = good;
        row.change(b);
        uint32_t at = 7;
        EXPECT_EQ(core_FindImageSlot(b.data(), b.size(), &at), row.found) << row.what;
        EXPECT_EQ(at, row.found == 1 ? kSlotAt : 7u) << row.what;
        // Filling changes nothing unless there is a sound slot.
        std::vector<uint8_t> before = b;
        EXPECT_EQ(core_FillImageSlot(b.data(), b.size(), &digest), row.found) << row.what;
        if (row.found != 1) {
            EXPECT_EQ(b, before) << row.what;
        }
    }
    // Cut anywhere before the slot's end: no image before its NT headers are whole (no machine
    // either), malformed after; nothing is read past the cut.
    for (size_t len = 0; len < kSlotAt + kSlotLen; ++len) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + len);
        uint32_t at = 0;
        EXPECT_EQ(core_FindImageSlot(cut.data(), cut.size(), &at), len < kNt + 24 ? 0 : -1) << len;
        EXPECT_EQ(core_ImageMachine(cut.data(), cut.size()), len < kNt + 24 ? 0u : 0x14Cu) << len;
    }
}

TEST(CoreImageSlot, FilledInPlaceAndReadBack)
{
    std::vector<uint8_t> b = Image();
    DigestValue v;
    EXPECT_EQ(core_ReadSlot(&b[kSlotAt], &v), 0);  // empty: any sound package will do
    DigestValue digest;
    std::memset(&digest, 0, sizeof digest);
    digest.algorithm = kDigestBlake3;
    digest.len = 32;
    for (int i = 0; i < 32; ++i) digest.bytes[i] = (uint8_t)(0xA0 + i);
    std::vector<uint8_t> before = b;
    ASSERT_EQ(core_FillImageSlot(b.data(), b.size(), &digest), 1);
    // Only the fill flag and the 32 value bytes changed.
    std::string want = "56656d6c6f536c74" "01" "02" "01" "20";
    for (int i = 0; i < 32; ++i) want += ct::Hex(&digest.bytes[i], 1);
    want += "00000000";
    EXPECT_EQ(ct::Hex(&b[kSlotAt], kSlotLen), want);
    for (size_t i = 0; i < b.size(); ++i) {
        if (i < kSlotAt || i >= kSlotAt + kSlotLen) {
            ASSERT_EQ(b[i], before[i]) << i;
        }
    }
    ASSERT_EQ(core_ReadSlot(&b[kSlotAt], &v), 1);
    EXPECT_TRUE(core_DigestEqual(&v, &digest));
    // A digest that is not BLAKE3-256 never goes in.
    DigestValue xxh3 = digest;
    xxh3.algorithm = kDigestXxh3;
    xxh3.len = 8;
    before = b;
    EXPECT_EQ(core_FillImageSlot(b.data(), b.size(), &xxh3), -1);
    EXPECT_EQ(b, before);
}

}  // namespace
