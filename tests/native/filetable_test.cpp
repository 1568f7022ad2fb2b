// The file table as the packaging tool writes it and the installer reads it,
// and the load-time check that keeps a damaged table from being read out of
// bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/filetable.h"
#include "engine/paths.h"
#include "pkg/filetable.h"

namespace {

pkg::EntrySpec fullEntry() {
    pkg::EntrySpec e;
    e.relativePath = "bin\\tool.dll";
    e.altSubfolder = "old";
    e.location = LOC_SHARED;
    e.presence = PRES_NEW;
    e.onUnknownVersion = UNK_ASK_FOLDER;
    e.wholeFile = true;
    e.newSize = 5000;
    e.newChecksum = 0xCAFEBABE;
    e.versions = {{0x11111111, 100, 7, 70}, {0x22222222, 200, 8, 80}};
    e.version = pkg::FileVersion{0x00010002, 0x00030004};
    e.times = pkg::FileTimes{0x0102030405060708ull, 2, 3};
    e.regions = {{16, 40, true, {}}, {8, -1, false, {'S', 'E', 'R', 'I', 'A', 'L'}}};
    return e;
}

pkg::EntrySpec plainEntry(const char* name) {
    pkg::EntrySpec e;
    e.relativePath = name;
    e.newSize = 10;
    e.versions = {{1, 2, 3, 4}};
    return e;
}

FileEntry* firstOf(std::vector<uint8_t>& table) {
    return reinterpret_cast<FileEntry*>(table.data() + 4);
}

}  // namespace

// What the packaging tool writes is what the installer's accessors read back.
TEST(FileTableLayout, BuilderOutputReadsBackThroughTheAccessors) {
    const uint32_t key = 0x5A5A1234;
    std::vector<uint8_t> table =
        pkg::FileTableBuilder(key).add(fullEntry()).add(plainEntry("b.txt")).bytes();
    ASSERT_TRUE(checkFileTable(table.data(), static_cast<uint32_t>(table.size())));

    FileEntry* e = firstOf(table);
    EXPECT_EQ(e->location, LOC_SHARED);
    EXPECT_EQ(e->presence, PRES_NEW);
    EXPECT_EQ(e->onUnknownVersion, UNK_ASK_FOLDER);
    EXPECT_EQ(e->flags, FE_WHOLE_FILE | FE_HAS_VERSION | FE_HAS_TIMES);
    EXPECT_EQ(e->newChecksum, 0xCAFEBABEu);
    EXPECT_EQ(e->chosenVersion, CV_NONE);
    EXPECT_EQ(entryNamesOffset(e), 30u + 16 + 24);
    EXPECT_STREQ(entryName(e, 0), "bin\\tool.dll");
    EXPECT_STREQ(entryName(e, 1), "old");
    EXPECT_EQ(entryVersionBlock(e)->versionMs, 0x00010002u);
    EXPECT_EQ(entryTimesBlock(e)->creation.low, 0x05060708u);
    EXPECT_EQ(entryTimesBlock(e)->creation.high, 0x01020304u);

    ASSERT_EQ(e->versionCount, 2);
    SourceVersion* v = entryVersions(e);
    EXPECT_EQ(v[1].maskedChecksum ^ key, 0x22222222u);  // stored masked
    EXPECT_EQ(v[1].size, 200u);
    EXPECT_EQ(v[1].dataOffset, 8u);
    EXPECT_EQ(v[1].packedSize, 80u);

    ASSERT_EQ(e->regionCount, 2);
    PreservedRegion* r = entryRegions(e);
    EXPECT_EQ(r->offset, 40);
    EXPECT_EQ(r->restore, 1);
    r = nextRegion(r);
    EXPECT_EQ(r->offset, -1);
    EXPECT_EQ(0, memcmp(regionPattern(r), "SERIAL", 6));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(nextRegion(r)), reinterpret_cast<uint8_t*>(nextEntry(e)));

    FileEntry* second = nextEntry(e);
    EXPECT_STREQ(entryName(second, 0), "b.txt");
    EXPECT_STREQ(entryName(second, 1), "");
    EXPECT_EQ(entryVersionBlock(second), nullptr);
    EXPECT_EQ(entryTimesBlock(second), nullptr);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(nextEntry(second)), table.data() + table.size());
}

TEST(FileTableLayout, DeleteEntriesAndTheTimesBlockAlone) {
    pkg::EntrySpec d = plainEntry("gone.txt");
    d.deleteFile = true;
    d.times = pkg::FileTimes{1, 2, 3};
    std::vector<uint8_t> table = pkg::FileTableBuilder(0).add(d).bytes();
    FileEntry* e = firstOf(table);
    EXPECT_EQ(e->action, ACT_DELETE);
    EXPECT_EQ(entryNamesOffset(e), 30u + 24);
    EXPECT_EQ(entryTimesBlock(e)->lastWrite.low, 3u);
    EXPECT_STREQ(entryName(e, 0), "gone.txt");
}

TEST(FileTableLayout, BuilderRefusesWhatTheInstallerCannotRead) {
    pkg::EntrySpec e = plainEntry("x");
    e.regions = {{1, -1, false, std::vector<uint8_t>(REGION_MAX_PATTERN + 1, 'x')}};
    EXPECT_THROW(pkg::encodeEntry(e, 0), std::invalid_argument);
    e = plainEntry("x");
    e.versions.resize(5000);  // the region list would start past 64 KiB
    EXPECT_THROW(pkg::encodeEntry(e, 0), std::invalid_argument);
    e = plainEntry("x");
    e.relativePath = std::string("a\0b", 3);
    EXPECT_THROW(pkg::encodeEntry(e, 0), std::invalid_argument);
}

// A damaged package must make the loader report it as incomplete: every
// bound the engine relies on is checked once, here.
class DamagedFileTable : public ::testing::Test {
protected:
    std::vector<uint8_t> table =
        pkg::FileTableBuilder(7).add(fullEntry()).add(plainEntry("second.txt")).bytes();
    FileEntry* first() { return firstOf(table); }
    bool sound() { return checkFileTable(table.data(), static_cast<uint32_t>(table.size())); }
};

TEST_F(DamagedFileTable, SoundTableAndEmptyTablePass) {
    EXPECT_TRUE(sound());
    std::vector<uint8_t> empty = pkg::FileTableBuilder(0).bytes();
    EXPECT_TRUE(checkFileTable(empty.data(), 4));
    EXPECT_FALSE(checkFileTable(empty.data(), 3));
    EXPECT_FALSE(checkFileTable(nullptr, 0));
}

TEST_F(DamagedFileTable, EveryTruncationIsRefused) {
    for (uint32_t n = 0; n < table.size(); n++)
        EXPECT_FALSE(checkFileTable(table.data(), n)) << "cut at " << n;
}

TEST_F(DamagedFileTable, CountBeyondTheEntries) {
    table[0] = 3;
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, EntryShorterThanItsHeaderOrZero) {
    first()->entrySize = 0;  // would walk on the spot for ever
    EXPECT_FALSE(sound());
    first()->entrySize = 29;
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, EntryRunningPastTheBuffer) {
    nextEntry(first())->entrySize += 1;
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, BlocksFlagsPushTheNamesPastTheEntry) {
    std::vector<uint8_t> t = pkg::FileTableBuilder(0).add(plainEntry("")).bytes();
    FileEntry* e = firstOf(t);
    e->regionListOffset = static_cast<uint16_t>(e->entrySize);
    e->versionCount = 0;
    e->flags |= FE_HAS_VERSION | FE_HAS_TIMES;
    EXPECT_FALSE(checkFileTable(t.data(), static_cast<uint32_t>(t.size())));
}

TEST_F(DamagedFileTable, UnterminatedNames) {
    // Overwrite both terminators with letters: the names would run into the
    // version list and on.
    FileEntry* e = nextEntry(first());
    char* name = reinterpret_cast<char*>(e) + entryNamesOffset(e);
    name[strlen(name)] = 'x';
    name[strlen(name)] = 'y';
    e->versionCount = 0;
    e->versionListOffset = 0;
    // Now no NUL before the region list.
    memset(reinterpret_cast<uint8_t*>(e) + entryNamesOffset(e), 'z',
           e->regionListOffset - entryNamesOffset(e));
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, NamesReachingIntoTheRegionList) {
    // The region offsets are rewritten at run time; a name must not share
    // their bytes.
    FileEntry* e = first();
    e->regionListOffset = static_cast<uint16_t>(entryNamesOffset(e) + 3);
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, VersionListOutsideTheEntry) {
    first()->versionCount = 2000;
    EXPECT_FALSE(sound());
    table = pkg::FileTableBuilder(7).add(fullEntry()).bytes();
    first()->versionListOffset = 2;  // inside the header
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, RegionListNotEndingAtEntrySize) {
    first()->regionCount = 1;  // one region short of the end
    EXPECT_FALSE(sound());
    table = pkg::FileTableBuilder(7).add(fullEntry()).bytes();
    first()->regionCount = 3;  // a third one would run past the entry
    EXPECT_FALSE(sound());
    table = pkg::FileTableBuilder(7).add(fullEntry()).bytes();
    PreservedRegion* r = nextRegion(entryRegions(first()));
    r->patternLength += 1;  // pattern runs past the entry
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, RegionListOverlappingTheHeader) {
    first()->regionListOffset = 10;
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, PatternTooLongForTheSearchWindow) {
    pkg::EntrySpec e = plainEntry("x");
    e.regions = {{1, -1, false, std::vector<uint8_t>(REGION_MAX_PATTERN, 'p')}};
    table = pkg::FileTableBuilder(0).add(e).bytes();
    EXPECT_TRUE(sound());
    // Grow the pattern by one byte and the entry with it.
    PreservedRegion* r = entryRegions(first());
    r->patternLength += 1;
    first()->entrySize += 1;
    table.push_back('p');
    EXPECT_FALSE(sound());
}

TEST_F(DamagedFileTable, RandomDamageIsRefusedOrStaysInBounds) {
    // Whatever the check accepts, the accessors must stay inside the buffer.
    uint32_t x = 99;
    const std::vector<uint8_t> good = table;
    for (int round = 0; round < 20000; round++) {
        table = good;
        for (int k = 0; k < 3; k++) {
            x = x * 1664525 + 1013904223;
            table[(x >> 8) % table.size()] = static_cast<uint8_t>(x >> 24);
        }
        if (!sound()) continue;
        uint32_t count;
        memcpy(&count, table.data(), 4);
        const uint8_t* end = table.data() + table.size();
        FileEntry* e = first();
        for (uint32_t i = 0; i < count; i++, e = nextEntry(e)) {
            const char* alt = entryName(e, 1);
            ASSERT_LT(reinterpret_cast<const uint8_t*>(alt + strlen(alt)), end);
            ASSERT_LE(reinterpret_cast<uint8_t*>(entryVersions(e) + e->versionCount), end);
            PreservedRegion* r = entryRegions(e);
            for (uint32_t k = 0; k < e->regionCount; k++) r = nextRegion(r);
            ASSERT_EQ(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(nextEntry(e)));
        }
    }
}

// Path helpers: the engine's targets and the progress display depend on
// these leaving roots, empty texts and dotted folders alone.
TEST(PathHelpers, BackslashesAtTheEnd) {
    char s[260] = "";
    appendBackslash(s);
    EXPECT_STREQ(s, "");
    strcpy(s, "C:\\App");
    appendBackslash(s);
    EXPECT_STREQ(s, "C:\\App\\");
    appendBackslash(s);
    EXPECT_STREQ(s, "C:\\App\\");
    stripBackslash(s);
    EXPECT_STREQ(s, "C:\\App");
    strcpy(s, "C:\\");
    stripBackslash(s);
    EXPECT_STREQ(s, "C:\\");
}

TEST(PathHelpers, ReplaceExtension) {
    char s[260] = "C:\\App\\tool.dll";
    replaceExtension(s, ".$$A");
    EXPECT_STREQ(s, "C:\\App\\tool.$$A");
    strcpy(s, "C:\\App.v2\\README");
    replaceExtension(s, ".$$A");
    EXPECT_STREQ(s, "C:\\App.v2\\README.$$A");
    strcpy(s, "plain");
    replaceExtension(s, ".x");
    EXPECT_STREQ(s, "plain.x");
}

TEST(PathHelpers, TextsNeverGrowPast259Characters) {
    char s[260];
    memset(s, 'a', 259);
    s[259] = 0;
    appendBackslash(s);
    EXPECT_EQ(strlen(s), 259u);
    replaceExtension(s, ".$$A");
    EXPECT_EQ(strlen(s), 259u);
    appendText(s, "more");
    EXPECT_EQ(strlen(s), 259u);
}

TEST(PathHelpers, ShortenPathKeepsFirstFolderAndName) {
    // Root (3), folders of 13, 8 and 3 characters, an 8-character name.
    char s[260] = "C:\\Thirteen_Char\\Eight_ch\\Thr\\file.txt";
    ASSERT_EQ(strlen(s), 38u);
    shortenPath(s, 30);
    EXPECT_STREQ(s, "C:\\Thirteen_Char\\...\\file.txt");

    char fits[260] = "C:\\short\\file.txt";
    shortenPath(fits, 30);
    EXPECT_STREQ(fits, "C:\\short\\file.txt");

    char noSlash[260] = "a_very_long_file_name_without_any_folder.txt";
    shortenPath(noSlash, 10);
    EXPECT_STREQ(noSlash, "a_very_long_file_name_without_any_folder.txt");

    char close[260] = "C:\\ab\\a_very_long_file_name.txt";  // last backslash 3 after first
    shortenPath(close, 10);
    EXPECT_STREQ(close, "C:\\ab\\a_very_long_file_name.txt");

    char longFirst[260] = "C:\\A_first_folder_that_is_long\\b\\cc\\name.txt";
    shortenPath(longFirst, 20);
    EXPECT_STREQ(longFirst, "C:\\...\\name.txt");
}

TEST(PathHelpers, CaseBlindComparison) {
    EXPECT_TRUE(samePathIgnoringCase("C:\\Apps\\X.DLL", "c:\\apps\\x.dll"));
    EXPECT_FALSE(samePathIgnoringCase("C:\\Apps\\X.DLL", "c:\\apps\\x.dl"));
}
