// The file table as the packaging tool writes it and the installer reads it,
// the load-time check that keeps a damaged table from being read out of
// bounds, and the path helpers built on its names.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "package/filetable.h"
#include "package/paths.h"
#include "base/state.h"
#include "pkg/filetable.h"

namespace {

pkg::TableEntry fullEntry() {
    pkg::TableEntry e;
    e.relativePath = "bin\\tool.dll";
    e.altSubfolder = "old";
    e.location = LOC_SHARED;
    e.presence = PRES_NEW;
    e.wholeFile = true;
    e.newChecksum = 0xCAFEBABE;
    e.versions = {{0x11111111, 100, 7, 70}, {0x22222222, 200, 8, 80}};
    e.version = pkg::FileVersion{0x00010002, 0x00030004};
    e.times = pkg::FileTimes{0x0102030405060708ull, 2, 3};
    e.regions = {{16, 40, true, {}}, {8, -1, false, {'S', 'E', 'R', 'I', 'A', 'L'}}};
    return e;
}

pkg::TableEntry plainEntry() {
    pkg::TableEntry e;
    e.relativePath = "b.txt";
    e.versions = {{1, 2, 3, 4}};
    return e;
}

FileEntry* first(std::vector<uint8_t>& t) { return reinterpret_cast<FileEntry*>(t.data() + 4); }
bool sound(const std::vector<uint8_t>& t) {
    return checkFileTable(t.data(), static_cast<uint32_t>(t.size()));
}

}  // namespace

// What the packaging tool writes is what the installer's accessors read back.
TEST(FileTableLayout, BuilderOutputReadsBackThroughTheAccessors) {
    const uint32_t key = 0x5A5A1234;
    std::vector<uint8_t> t = pkg::FileTableBuilder(key).add(fullEntry()).add(plainEntry()).bytes();
    ASSERT_TRUE(sound(t));
    FileEntry* e = first(t);
    EXPECT_EQ(+e->flags, FE_WHOLE_FILE | FE_HAS_VERSION | FE_HAS_TIMES);
    EXPECT_EQ(+e->chosenVersion, CV_NONE);
    EXPECT_STREQ(entryName(e, 0), "bin\\tool.dll");  // behind both blocks
    EXPECT_STREQ(entryName(e, 1), "old");
    EXPECT_EQ(+entryVersionBlock(e)->versionMs, 0x00010002u);
    EXPECT_EQ(+entryTimesBlock(e)->creation.high, 0x01020304u);  // low word first
    EXPECT_EQ(+entryVersions(e)[1].maskedChecksum ^ key, 0x22222222u);
    EXPECT_EQ(+entryVersions(e)[1].packedSize, 80u);
    PreservedRegion* r = entryRegions(e);
    EXPECT_EQ(+r->offset, 40);
    r = nextRegion(r);
    EXPECT_EQ(0, memcmp(regionPattern(r), "SERIAL", 6));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(nextRegion(r)), reinterpret_cast<uint8_t*>(nextEntry(e)));

    FileEntry* second = nextEntry(e);
    EXPECT_STREQ(entryName(second, 1), "");
    EXPECT_EQ(entryTimesBlock(second), nullptr);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(nextEntry(second)), t.data() + t.size());
}

TEST(FileTableLayout, BuilderRefusesWhatTheInstallerCannotRead) {
    pkg::TableEntry e = plainEntry();
    e.regions = {{1, -1, false, std::vector<uint8_t>(REGION_MAX_PATTERN + 1, 'x')}};
    EXPECT_THROW(pkg::encodeEntry(e, 0), std::invalid_argument);
    e = plainEntry();
    e.versions.resize(5000);  // the region list would start past 64 KiB
    EXPECT_THROW(pkg::encodeEntry(e, 0), std::invalid_argument);
}

// A damaged package must read as incomplete: every bound the engine relies
// on is checked once, when the table loads.
TEST(DamagedFileTable, EachKindOfDamageIsRefused) {
    const std::vector<uint8_t> good = pkg::FileTableBuilder(7).add(fullEntry()).add(plainEntry()).bytes();
    ASSERT_TRUE(sound(good));
    std::vector<uint8_t> empty = pkg::FileTableBuilder(0).bytes();
    EXPECT_TRUE(sound(empty));
    EXPECT_FALSE(checkFileTable(empty.data(), 3));

    using Damage = std::function<void(std::vector<uint8_t>&)>;
    const std::pair<const char*, Damage> cases[] = {
        {"count beyond the entries", [](auto& t) { t[0] = 3; }},
        {"entry size 0", [](auto& t) { first(t)->entrySize = 0; }},
        {"entry shorter than its header", [](auto& t) { first(t)->entrySize = 29; }},
        {"entry past the buffer", [](auto& t) { nextEntry(first(t))->entrySize += 1; }},
        {"blocks push the names out",
         [](auto& t) { nextEntry(first(t))->flags |= FE_HAS_VERSION | FE_HAS_TIMES; }},
        {"names reach into the region list",
         [](auto& t) { first(t)->regionListOffset = uint16_t(entryNamesOffset(first(t)) + 3); }},
        {"unterminated names",
         [](auto& t) {
             FileEntry* e = nextEntry(first(t));
             memset(reinterpret_cast<uint8_t*>(e) + 30, 'z', e->regionListOffset - 30);
         }},
        {"version list past the entry", [](auto& t) { first(t)->versionCount = 2000; }},
        {"version list runs into the region list", [](auto& t) { first(t)->versionListOffset += 8; }},
        {"version list in the header", [](auto& t) { first(t)->versionListOffset = 2; }},
        {"empty version list elsewhere",
         [](auto& t) { nextEntry(first(t))->versionCount = 0, nextEntry(first(t))->versionListOffset = 9999; }},
        {"created file without its data", [](auto& t) { first(t)->versionCount = 0; }},
        {"region list in the header", [](auto& t) { first(t)->regionListOffset = 10; }},
        {"region list ends early", [](auto& t) { first(t)->regionCount = 1; }},
        {"region list runs past the entry", [](auto& t) { first(t)->regionCount = 3; }},
        {"pattern runs past the entry",
         [](auto& t) { nextRegion(entryRegions(first(t)))->patternLength += 1; }},
    };
    for (const auto& [what, damage] : cases) {
        std::vector<uint8_t> t = good;
        damage(t);
        EXPECT_FALSE(sound(t)) << what;
    }
    for (uint32_t n = 0; n < good.size(); n++)
        EXPECT_FALSE(checkFileTable(good.data(), n)) << "cut at " << n;
}

// Digests sit between the names and the version list: the new file's, then
// one per version; a table whose digests would overlap the names is refused.
TEST(FileTableLayout, DigestsReadBackAndStayOutOfTheNames) {
    pkg::TableEntry e = fullEntry();
    e.newDigest = 0x0123456789ABCDEFull;
    e.versions[0].digest = 0x1111222233334444ull;
    e.versions[1].digest = 0xFFFFFFFF00000001ull;
    std::vector<uint8_t> t = pkg::FileTableBuilder(3).add(e).add(plainEntry()).bytes();
    ASSERT_TRUE(sound(t));
    FileEntry* f = first(t);
    EXPECT_TRUE(f->flags & FE_HAS_DIGEST);
    EXPECT_EQ(entryDigest(f, 0), 0x0123456789ABCDEFull);
    EXPECT_EQ(entryDigest(f, 1), 0x1111222233334444ull);
    EXPECT_EQ(entryDigest(f, 2), 0xFFFFFFFF00000001ull);
    EXPECT_STREQ(entryName(f, 1), "old");
    EXPECT_FALSE(nextEntry(f)->flags & FE_HAS_DIGEST);  // none given: none written

    // The digests end at the version list; moving the list back by one
    // byte (or claiming digests the entry lacks) lets them cover the names.
    std::vector<uint8_t> bad = t;
    first(bad)->versionListOffset -= 1;
    EXPECT_FALSE(sound(bad));
    bad = t;
    nextEntry(first(bad))->flags |= FE_HAS_DIGEST;
    EXPECT_FALSE(sound(bad));
}

// Names must stay inside the folder they are joined to, whatever the
// packager wrote: absolute, drive, UNC and stream names and dot components
// make the table unsound.
TEST(DamagedFileTable, NamesThatLeaveTheirFolderAreRefused) {
    for (const char* good : {"a.txt", "bin\\tool.dll", "bin/tool.dll", "..a\\b..c", ".profile", "a b\\c"})
        EXPECT_TRUE(isInsidePath(good)) << good;
    for (const char* bad : {"", "..\\outside.txt", "a\\..\\..\\b", "a\\.\\b", ".", "...", ". .",
                            "\\abs.txt", "/abs.txt", "C:\\x.txt", "C:x.txt", "\\\\server\\share\\x",
                            "\\\\?\\C:\\x", "a\\\\b", "a\\", "file.txt:stream", "a\\.. \\b"})
        EXPECT_FALSE(isInsidePath(bad)) << bad;

    for (const char* name : {"..\\outside.txt", "C:\\Windows\\x.dll"}) {
        pkg::TableEntry e = plainEntry();
        e.relativePath = name;
        EXPECT_FALSE(sound(pkg::FileTableBuilder(0).add(e).bytes())) << name;
        e = plainEntry();
        e.altSubfolder = name;
        EXPECT_FALSE(sound(pkg::FileTableBuilder(0).add(e).bytes())) << name;
    }
    pkg::TableEntry e = plainEntry();
    e.altSubfolder = "";
    EXPECT_TRUE(sound(pkg::FileTableBuilder(0).add(e).bytes()));
}

TEST(DamagedFileTable, PatternLongerThanTheSearchWindowIsRefused) {
    pkg::TableEntry e = plainEntry();
    e.regions = {{1, -1, false, std::vector<uint8_t>(REGION_MAX_PATTERN, 'p')}};
    std::vector<uint8_t> t = pkg::FileTableBuilder(0).add(e).bytes();
    EXPECT_TRUE(sound(t));
    entryRegions(first(t))->patternLength += 1;  // grow pattern and entry by one byte
    first(t)->entrySize += 1;
    t.push_back('p');
    EXPECT_FALSE(sound(t));
}

TEST(DamagedFileTable, WhateverPassesKeepsTheAccessorsInBounds) {
    const std::vector<uint8_t> good = pkg::FileTableBuilder(7).add(fullEntry()).add(plainEntry()).bytes();
    uint32_t x = 99;
    for (int round = 0; round < 20000; round++) {
        std::vector<uint8_t> t = good;
        for (int k = 0; k < 3; k++) {
            x = x * 1664525 + 1013904223;
            t[(x >> 8) % t.size()] = static_cast<uint8_t>(x >> 24);
        }
        if (!sound(t)) continue;
        const uint8_t* end = t.data() + t.size();
        FileEntry* e = first(t);
        for (uint32_t i = 0; i < *reinterpret_cast<uint32_t*>(t.data()); i++, e = nextEntry(e)) {
            const char* alt = entryName(e, 1);
            ASSERT_LT(reinterpret_cast<const uint8_t*>(alt + strlen(alt)), end);
            ASSERT_LE(reinterpret_cast<uint8_t*>(entryVersions(e) + e->versionCount), end);
            PreservedRegion* r = entryRegions(e);
            for (uint32_t k = 0; k < e->regionCount; k++) r = nextRegion(r);
            ASSERT_EQ(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(nextEntry(e)));
        }
    }
}

// Path helpers: roots, empty texts and dotted folders stay intact, and no
// text grows past 259 characters; a text that had to be cut says so, one
// that just fits does not.
TEST(PathHelpers, EdgesOfTheHelpers) {
    char s[260] = "";
    appendBackslash(s);
    EXPECT_STREQ(s, "");
    strcpy(s, "C:\\");
    stripBackslash(s);
    EXPECT_STREQ(s, "C:\\");
    strcpy(s, "C:\\App.v2\\README");
    replaceExtension(s, ".$$A");
    EXPECT_STREQ(s, "C:\\App.v2\\README.$$A");
    replaceExtension(s, ".x");
    EXPECT_STREQ(s, "C:\\App.v2\\README.x");
    memset(s, 'a', 259);
    s[259] = 0;
    state.textCut = 0;
    copyText(s, std::string(259, 'b').c_str());
    EXPECT_EQ(state.textCut, 0u) << "259 characters fit";
    appendBackslash(s);
    EXPECT_EQ(state.textCut, 1u);
    state.textCut = 0;
    replaceExtension(s, ".$$A");
    EXPECT_EQ(strlen(s), 259u);
    EXPECT_EQ(state.textCut, 1u);
    state.textCut = 0;
    copyText(s, std::string(260, 'c').c_str());
    EXPECT_EQ(strlen(s), 259u);
    EXPECT_EQ(state.textCut, 1u);
    state.textCut = 0;
}

TEST(PathHelpers, ShortenPathKeepsFirstFolderAndName) {
    const std::pair<const char*, const char*> cases[] = {
        // root, folders of 13, 8 and 3 characters, an 8-character name -> 29
        {"C:\\Thirteen_Char\\Eight_ch\\Thr\\file.txt", "C:\\Thirteen_Char\\...\\file.txt"},
        {"C:\\short\\file.txt", "C:\\short\\file.txt"},  // fits
        {"a_very_long_file_name_without_any_folder.txt", nullptr},
        {"C:\\ab\\a_very_long_file_name.txt", nullptr},  // last "\" only 3 after the first
        {"C:\\A_first_folder_that_is_long\\b\\cc\\name.txt", "C:\\...\\name.txt"},
    };
    for (const auto& [in, out] : cases) {
        char s[260];
        strcpy(s, in);
        shortenPath(s, strlen(in) > 40 ? 20 : 30);
        EXPECT_STREQ(s, out ? out : in);
    }
}
