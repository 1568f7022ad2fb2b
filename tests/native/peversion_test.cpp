// A program's version resource gives its file-table entry the version the
// installer compares before it replaces a newer copy; files without one, or
// with a damaged one, simply carry none.
#include <gtest/gtest.h>

#include <cstring>

#include "pkg/peversion.h"

namespace {

using pkg::Bytes;

void at16(Bytes& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void at32(Bytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A minimal PE32 (or PE32+) image: one .rsrc section at RVA 0x1000, file
// offset 0x200, holding type 16 / name 1 / language 0x409 -> VS_VERSIONINFO.
Bytes makePe(uint32_t ms, uint32_t ls, bool pe32plus = false, bool withVersion = true) {
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    at32(b, 0x3C, 0x40);
    std::memcpy(&b[0x40], "PE\0\0", 4);
    uint16_t optSize = pe32plus ? 240 : 224;
    at16(b, 0x44, pe32plus ? 0x8664 : 0x14C);
    at16(b, 0x46, 1);
    at16(b, 0x54, optSize);
    size_t opt = 0x58, dirs = opt + (pe32plus ? 112 : 96);
    at16(b, opt, pe32plus ? 0x20B : 0x10B);
    at32(b, dirs - 4, 16);
    at32(b, dirs + 16, 0x1000);
    at32(b, dirs + 20, 0x100);
    size_t sec = opt + optSize;
    std::memcpy(&b[sec], ".rsrc", 5);
    at32(b, sec + 8, 0x100);
    at32(b, sec + 12, 0x1000);
    at32(b, sec + 16, 0x200);
    at32(b, sec + 20, 0x200);
    size_t t = 0x200;
    at16(b, t + 14, 1);
    at32(b, t + 16, withVersion ? 16 : 3);  // RT_VERSION, or RT_ICON
    at32(b, t + 20, 0x80000000u | 0x18);
    at16(b, t + 0x18 + 14, 1);
    at32(b, t + 0x18 + 16, 1);
    at32(b, t + 0x18 + 20, 0x80000000u | 0x30);
    at16(b, t + 0x30 + 14, 1);
    at32(b, t + 0x30 + 16, 0x409);
    at32(b, t + 0x30 + 20, 0x48);
    at32(b, t + 0x48, 0x1058);
    at32(b, t + 0x48 + 4, 92);
    size_t v = t + 0x58;
    at16(b, v, 92);
    at16(b, v + 2, 52);
    const char* key = "VS_VERSION_INFO";
    for (size_t i = 0; i <= std::strlen(key); i++) at16(b, v + 6 + 2 * i, static_cast<uint8_t>(key[i]));
    at32(b, v + 40, 0xFEEF04BD);
    at32(b, v + 44, 0x10000);
    at32(b, v + 48, ms);
    at32(b, v + 52, ls);
    return b;
}

TEST(PeVersion, ReadsTheFixedFileVersionOfPe32AndPe32Plus) {
    auto v = pkg::peFileVersion(makePe(0x00020001, 0x00030004));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->ms, 0x00020001u);
    EXPECT_EQ(v->ls, 0x00030004u);
    auto w = pkg::peFileVersion(makePe(0x00070000, 9, true));
    ASSERT_TRUE(w);
    EXPECT_EQ(w->ms, 0x00070000u);
}

TEST(PeVersion, FilesWithoutASoundVersionResourceCarryNone) {
    EXPECT_FALSE(pkg::peFileVersion(makePe(1, 2, false, false))) << "resources, but no RT_VERSION";
    Bytes badSignature = makePe(1, 2);
    badSignature[0x200 + 0x58 + 40] ^= 1;
    EXPECT_FALSE(pkg::peFileVersion(badSignature));
    Bytes cut = makePe(1, 2);
    cut.resize(0x260);  // the version data lies past the end
    EXPECT_FALSE(pkg::peFileVersion(cut));
    Bytes text(0x400, 'M');
    EXPECT_FALSE(pkg::peFileVersion(text));
    EXPECT_FALSE(pkg::peFileVersion(Bytes{'M', 'Z'}));
}

}  // namespace
