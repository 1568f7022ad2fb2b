// The installation run under wine64: packages the packaging library builds
// are applied by the engine to real files, and every file ends byte-exactly
// new; a run that fails leaves every target exactly as it was.
#include "install_support.h"

#include "engine/delta.h"
#include "import_slot.h"
#include "pkg/differ.h"

using namespace installtest;

namespace {

Bytes text(size_t n, uint32_t seed) { return testcommon::words(n, seed, testcommon::kWindowsWords, 7); }

Bytes with(Bytes b, size_t at, const Bytes& insert) {
    b.insert(b.begin() + at, insert.begin(), insert.end());
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

// Pairs of files an update meets (small, medium and tens of MiB; binaries and
// text; rewritten, appended, shifted by one byte, relinked, identical) are
// rebuilt exactly; new files appear in new folders; deleted files go.
class RoundTrip : public EngineTest {};

TEST_F(RoundTrip, PairsOfFiles) {
    Bytes big = codeLike(24 * 1024 * 1024, 1);
    Bytes medium = codeLike(400000, 2);
    Bytes page = text(120000, 3);
    pkg::FileSet before = {
        {"app.exe", big},
        {"lib\\core.dll", medium},
        {"readme.txt", page},
        {"tiny.ini", {'a', '=', '1'}},
        {"same.dat", noise(5000, 4)},
        {"rewritten.bin", noise(30000, 5)},
        {"old.log", text(3000, 6)},
    };
    Bytes bigNew = with(big, 12345678, {0x90});
    for (size_t i = 1000; i < bigNew.size(); i += 1000003) bigNew[i] ^= 0x20;
    pkg::FileSet after = {
        {"app.exe", bigNew},
        {"lib\\core.dll", codeLike(400000, 2, 16)},
        {"readme.txt", cat(page, text(5000, 9))},
        {"tiny.ini", {'a', '=', '2', '\r', '\n'}},
        {"same.dat", noise(5000, 4)},
        {"rewritten.bin", noise(31000, 55)},
        {"new\\deeper\\added.txt", text(7000, 8)},
    };
    pkg::BuiltUpdate u = build({before}, after);
    EXPECT_LT(u.dataSize, 2 * 1024 * 1024u) << "deltas of small edits stay small";
    place(before);
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel;
    EXPECT_FALSE(exists("old.log"));
    EXPECT_EQ(outcomeOf("app.exe"), unsigned(OUT_REPLACED));
    EXPECT_EQ(outcomeOf("new\\deeper\\added.txt"), unsigned(OUT_CREATED));
    EXPECT_EQ(outcomeOf("old.log"), unsigned(OUT_DELETED));
    EXPECT_EQ(outcomeOf("same.dat"), 0u) << "unchanged files are not in the table";
    EXPECT_EQ(leftovers(), 0);
    // The bar only moves forward and ends full.
    ASSERT_FALSE(percents.empty());
    for (size_t i = 1; i < percents.size(); i++) EXPECT_GE(percents[i], percents[i - 1]);
    EXPECT_EQ(percents.back(), 100u);
    // A second verification finds nothing left to do.
    EXPECT_EQ(verify(), ERR_NOTHING_TO_DO);
}

// A product on a network share: the new folders are made below the share,
// whose server and name are never taken for folders to make. Windows refuses
// a server's name alone ("\\server") as a folder, where Wine takes it for
// its folder of shares: the engine's calls get Windows' answer here.
namespace share {
decltype(&SetCurrentDirectoryA) realEnter;
decltype(&CreateDirectoryA) realMake;
bool serverAlone(const char* path) {
    return path[0] == '\\' && path[1] == '\\' && !strchr(path + 2, '\\');
}
BOOL WINAPI enter(const char* path) {
    if (!serverAlone(path)) return realEnter(path);
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
}
BOOL WINAPI make(const char* path, SECURITY_ATTRIBUTES* security) {
    if (!serverAlone(path)) return realMake(path, security);
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
}
}  // namespace share

extern "C" {
extern decltype(&SetCurrentDirectoryA) __imp_SetCurrentDirectoryA;
extern decltype(&CreateDirectoryA) __imp_CreateDirectoryA;
}

TEST_F(RoundTrip, NewFoldersOnANetworkShare) {
    std::string local = install.path();
    ASSERT_EQ(toupper(local[0]), 'C') << local;
    std::string root = "\\\\localhost\\c" + local.substr(2) + "\\";
    ASSERT_NE(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES)
        << root << ": the test session maps \\\\localhost\\c to drive C:";
    pkg::FileSet before = {{"a.txt", text(2000, 1)}};
    pkg::FileSet after = {{"a.txt", text(2100, 1)}, {"new\\deeper\\b.txt", text(3000, 2)}};
    build({before}, after);
    place(before);
    copyText(state.destinationDir, root.c_str());
    ASSERT_EQ(verifyInstallation(), ERR_NONE);
    replaceImport(&__imp_SetCurrentDirectoryA, share::enter, &share::realEnter);
    replaceImport(&__imp_CreateDirectoryA, share::make, &share::realMake);
    int result = runAll();
    decltype(&SetCurrentDirectoryA) enterBack;
    decltype(&CreateDirectoryA) makeBack;
    replaceImport(&__imp_SetCurrentDirectoryA, share::realEnter, &enterBack);
    replaceImport(&__imp_CreateDirectoryA, share::realMake, &makeBack);
    ASSERT_EQ(result, ERR_NONE) << state.messageSubject;
    for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel;
    EXPECT_EQ(leftovers(), 0);
}

// One package serves three old versions of a file; whichever is installed
// becomes the new one. A delete entry whose file is already gone reports
// "not deleted" and the run goes on.
TEST_F(RoundTrip, ThreeOldVersions) {
    Bytes v1 = text(60000, 1), v2 = with(v1, 100, text(300, 2)), v3 = cat(v2, text(2000, 3));
    Bytes v4 = with(v3, 30000, text(50, 4));
    std::vector<pkg::FileSet> olds = {{{"doc.txt", v1}, {"gone.txt", v1}},
                                      {{"doc.txt", v2}, {"gone.txt", v2}},
                                      {{"doc.txt", v3}}};
    pkg::BuiltUpdate u = build(olds, {{"doc.txt", v4}});
    ASSERT_EQ(u.entries.size(), 2u);
    EXPECT_EQ(u.entries[0].versions.size(), 3u);
    for (const Bytes& old : {v1, v2, v3}) {
        place({{"doc.txt", old}});
        DeleteFileA((install / "gone.txt").c_str());
        ASSERT_EQ(verify(), ERR_NONE);
        ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
        EXPECT_TRUE(read("doc.txt") == v4);
        EXPECT_EQ(outcomeOf("gone.txt"), unsigned(OUT_NOT_DELETED));
    }
}

// Preserved regions: the installed bytes of a region (a serial number, say)
// come back in the new file, at the place the pattern has moved to, and the
// final check blanks them. File times of the entry land on the new file.
TEST_F(RoundTrip, RegionsAndTimes) {
    Bytes marker = {'S', 'E', 'R', 'I', 'A', 'L', ':'};
    Bytes packagedOld = cat(cat(noise(5000, 1), marker), cat(Bytes(16, '0'), noise(5000, 2)));
    Bytes installedOld = packagedOld;
    memcpy(installedOld.data() + 5000 + marker.size(), "USER-1234-ABCD-9", 16);
    Bytes next = cat(cat(noise(7000, 3), noise(5000, 1)), cat(marker, cat(Bytes(16, '0'), noise(5000, 2))));
    pkg::UpdateOptions options;
    pkg::FileRule rule;
    rule.regions.push_back(pkg::Region{static_cast<uint32_t>(marker.size() + 16), REGION_NOT_PRESENT, true, marker});
    rule.times = pkg::FileTimes{0x01D0000000000000ull, 0x01D1000000000000ull, 0x01D2000000000000ull};
    options.rules["keys.dat"] = rule;
    build({{{"keys.dat", packagedOld}}}, {{"keys.dat", next}}, options);
    place({{"keys.dat", installedOld}});
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    Bytes expected = next;
    memcpy(expected.data() + 12000 + marker.size(), "USER-1234-ABCD-9", 16);
    EXPECT_TRUE(read("keys.dat") == expected);

    HANDLE h = CreateFileA((install / "keys.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    FILETIME c, a, w;
    ASSERT_TRUE(GetFileTime(h, &c, &a, &w));
    CloseHandle(h);
    EXPECT_EQ(w.dwHighDateTime, 0x01D20000u);
    (void)c;  // Wine keeps no creation time on Linux file systems
}

// Hand-made deltas the packager may write: an empty command stream builds an
// empty file; an empty data stream works when nothing inserts; a taken
// ".$$A" name moves on to ".$$B" and the file there is left alone; a
// read-only target is replaced and stays read-only.
class Handmade : public EngineTest {
protected:
    pkg::TableEntry entry(const char* rel, const Bytes& old, const Bytes& next, uint32_t offset = 0) {
        pkg::TableEntry e;
        e.relativePath = rel;
        e.newSize = static_cast<uint32_t>(next.size());
        e.newChecksum = sumOf(next);
        e.versions = {pkg::OldVersion{sumOf(old), static_cast<uint32_t>(old.size()), offset, 0}};
        return e;
    }
};

TEST_F(Handmade, EmptyStreamsTempNamesReadOnly) {
    Bytes old = noise(1000, 1);
    Bytes data;
    pkg::DeltaStreams empty;  // no commands, no data
    Bytes d1 = pkg::encodeDelta(empty);
    pkg::DeltaStreams copyOnly;
    pkg::encodeCopy(copyOnly.commands, 100, 0);
    Bytes d2 = pkg::encodeDelta(copyOnly);
    pkg::DeltaStreams edit = pkg::diffFiles(old, with(old, 10, {1, 2, 3}));
    Bytes d3 = pkg::encodeDelta(edit);
    data = cat(cat(d1, d2), d3);
    buildRaw({entry("empty.bin", old, {}, 0),
              entry("prefix.bin", old, Bytes(old.begin(), old.begin() + 100), uint32_t(d1.size())),
              entry("locked.$$A", old, with(old, 10, {1, 2, 3}), uint32_t(d1.size() + d2.size()))},
             data);
    place({{"empty.bin", old}, {"prefix.bin", old}, {"locked.$$A", old}});
    SetFileAttributesA((install / "locked.$$A").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    EXPECT_TRUE(read("empty.bin").empty());
    EXPECT_TRUE(read("prefix.bin") == Bytes(old.begin(), old.begin() + 100));
    EXPECT_TRUE(read("locked.$$A") == with(old, 10, {1, 2, 3}));
    EXPECT_NE(GetFileAttributesA((install / "locked.$$A").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesA((install / "locked.$$A").c_str(), FILE_ATTRIBUTE_NORMAL);
    std::string temp = state.scratchPath;
    EXPECT_EQ(temp.substr(temp.size() - 4), ".$$B") << "the target's own name was taken";
    EXPECT_EQ(outcomeOf("locked.$$A"), unsigned(OUT_REPLACED));
    EXPECT_EQ(leftovers(), 1);  // the target itself
}

// Faults: whatever stops the run, the target keeps its old bytes and no
// temporary file stays behind.
class Faults : public Handmade {
protected:
    Bytes old = codeLike(300000, 4);
    Bytes next = with(codeLike(300000, 4), 1000, {7, 7, 7});
    void SetUp() override {
        Handmade::SetUp();
        place({{"a.dll", old}});
    }
    void expectUntouched() {
        EXPECT_TRUE(read("a.dll") == old);
        EXPECT_EQ(leftovers(), 0);
    }
};

TEST_F(Faults, TargetInUse) {
    build({{{"a.dll", old}}}, {{"a.dll", next}});
    ASSERT_EQ(verify(), ERR_NONE);
    HANDLE held = CreateFileA((install / "a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(runAll(), ERR_NOT_REPLACED);
    CloseHandle(held);
    EXPECT_EQ(state.resultCode, ERR_NONE);
    EXPECT_EQ(outcomeOf("a.dll"), unsigned(OUT_NOT_REPLACED));
    expectUntouched();
}

TEST_F(Faults, TargetInUseOldFamilyRoute) {
    build({{{"a.dll", old}}}, {{"a.dll", next}});
    ASSERT_EQ(verify(), ERR_NONE);
    replaceWithoutMoveFileEx = 1;
    HANDLE held = CreateFileA((install / "a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(runAll(), ERR_NOT_REPLACED);
    CloseHandle(held);
    expectUntouched();
    // Free again, the same route replaces it.
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    EXPECT_TRUE(read("a.dll") == next);
    EXPECT_EQ(leftovers(), 0);
}

// Nothing is written beyond the new file's size, and nothing shorter
// passes: a delta whose commands build four bytes more than newSize is
// refused before a byte is written (ERR_READ naming the package); a whole
// file that decodes past newSize is cut off with ERR_READ; and one that
// decodes four bytes short, missing a leading zero word the checksum cannot
// see, fails the final check (ERR_VERIFY).
TEST_F(Faults, NewSizeIsExact) {
    Bytes zeroLed = cat(Bytes(4, 0), old);  // an old file that starts with a zero word
    place({{"a.dll", zeroLed}});
    pkg::DeltaStreams grown;  // that word, then the new file: four bytes too long
    pkg::encodeCopy(grown.commands, 4, 0);
    pkg::encodeInsert(grown, next.data(), next.size());
    buildRaw({entry("a.dll", zeroLed, next)}, pkg::encodeDelta(grown));
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_READ);
    EXPECT_EQ(std::string(state.messageSubject), installer);
    EXPECT_TRUE(read("a.dll") == zeroLed);
    EXPECT_EQ(leftovers(), 0);

    auto whole = [&](const Bytes& decoded, const Bytes& claimed) {
        place({{"a.dll", old}});
        Bytes stream = pkg::storeStream(decoded.data(), decoded.size());
        pkg::TableEntry e = entry("a.dll", old, claimed);
        e.wholeFile = true;
        e.versions[0].packedSize = static_cast<uint32_t>(stream.size());
        buildRaw({e}, stream);
        EXPECT_EQ(verify(), ERR_NONE);
        return runAll();
    };
    Bytes zeroLedNext = cat(Bytes(4, 0), next);
    EXPECT_EQ(whole(zeroLedNext, next), ERR_READ) << "four bytes past newSize";
    expectUntouched();
    EXPECT_EQ(whole(next, zeroLedNext), ERR_VERIFY) << "four bytes short, same checksum";
    EXPECT_EQ(std::string(state.messageSubject), install / "a.dll");
    expectUntouched();

    place({{"a.dll", old}});
    pkg::TableEntry wrong = entry("a.dll", old, next);
    wrong.newChecksum ^= 1;
    buildRaw({wrong}, pkg::encodeDelta(pkg::diffFiles(old, next)));
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_VERIFY);
    expectUntouched();
}

TEST_F(Faults, FullDisk) {
    Bytes added = noise(100000, 1);
    build({{{"a.dll", old}}}, {{"a.dll", next}, {"new.bin", added}});
    for (int shortWrite = 0; shortWrite < 2; shortWrite++) {
        // The first three budgets run out in a.dll, the last in new.bin.
        for (int64_t budget : {int64_t(0), int64_t(70000), int64_t(299000), int64_t(350000)}) {
            place({{"a.dll", old}});
            DeleteFileA((install / "new.bin").c_str());
            ASSERT_EQ(verify(), ERR_NONE);
            fileFaults = {budget, shortWrite};
            int r = runAll();
            fileFaults = {-1, 0};
            EXPECT_EQ(r, shortWrite ? ERR_DISK_FULL : ERR_WRITE) << budget;
            EXPECT_TRUE(read("a.dll") == (budget < 300000 ? old : next)) << budget;
            EXPECT_FALSE(exists("new.bin"));
            EXPECT_EQ(leftovers(), 0);
        }
    }
}

// A delta no sound packager writes is refused with ERR_READ naming the
// package, before the target is touched.
TEST_F(Faults, HostileDeltas) {
    auto refuse = [&](pkg::DeltaStreams d) {
        buildRaw({entry("a.dll", old, next)}, pkg::encodeDelta(d));
        ASSERT_EQ(verify(), ERR_NONE);
        EXPECT_EQ(runAll(), ERR_READ);
        EXPECT_EQ(std::string(state.messageSubject), installer);
        expectUntouched();
    };
    pkg::DeltaStreams outside;
    pkg::encodeCopy(outside.commands, 100, 299950);
    refuse(outside);
    pkg::DeltaStreams pastData;
    pkg::encodeInsert(pastData, next.data(), 10);
    pastData.commands.push_back(0x85);
    refuse(pastData);
    pkg::DeltaStreams tooMuchData = pkg::insertAll(cat(next, Bytes{1}));  // one byte more than newSize
    tooMuchData.commands.pop_back();
    tooMuchData.commands.push_back(0x9F);
    refuse(tooMuchData);
    pkg::DeltaStreams cut;
    pkg::encodeCopy(cut.commands, 1000, 20000);
    cut.commands.pop_back();
    refuse(cut);
    // A compressed body that decodes to fewer bytes than its size says.
    Bytes raw = text(5000, 1);
    Bytes body = pkg::storeStream(raw.data(), raw.size());
    Bytes stream = {STREAM_COMPRESSED};
    pkg::put16(stream, static_cast<uint16_t>(raw.size() + 1));  // one byte more than the body holds
    pkg::put16(stream, static_cast<uint16_t>(body.size()));
    stream = cat(stream, body);
    buildRaw({entry("a.dll", old, next)}, cat(stream, Bytes{0, 0, 0}));
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_READ);
    expectUntouched();
}
