// verifyInstallation against real files under the Wine prefix: every result
// it gives, what it records per entry, and that installed files keep their
// attributes whatever the outcome.
#include "engine_support.h"

#include <cstring>

#include "engine/results.h"
#include "engine/target.h"
#include "engine/verify.h"
#include "package/paths.h"

using namespace enginetest;

namespace {

const uint32_t kKey = 0x13572468;
const DiskFreeSpaceQuery platformDiskQuery = diskFreeSpaceQuery;
const AlternateFolderDialog platformDialog = alternateFolderDialog;

// Free space as each test wants it, in 4 KiB clusters.
uint32_t fakeFreeClusters;
bool fakeDriveFails;
bool fakeDiskFreeSpace(const char*, uint32_t* spc, uint32_t* bps, uint32_t* fc, uint32_t* tc) {
    *spc = 8, *bps = 512, *fc = fakeFreeClusters, *tc = fakeFreeClusters;
    return !fakeDriveFails;
}

// The alternate-folder dialog: confirms dialogAnswer, declines when empty.
int dialogCalls;
std::string dialogAnswer;
bool fakeDialog(void*) {
    dialogCalls++;
    copyText(state.alternateFolder, dialogAnswer.c_str());
    return !dialogAnswer.empty();
}

const std::vector<uint8_t> kOld1 = content("old version one ", 300);
const std::vector<uint8_t> kOld2 = content("old version two!", 500);
const std::vector<uint8_t> kNew = content("the new version ", 700);
const std::vector<uint8_t> kStrange = content("nobody knows me", 100);

pkg::TableEntry update(const char* rel, uint8_t presence = PRES_REQUIRED, uint8_t unknown = UNK_FAIL) {
    pkg::TableEntry e;
    e.relativePath = rel;
    e.altSubfolder = "sub";
    e.presence = presence;
    e.onUnknownVersion = unknown;
    e.newSize = static_cast<uint32_t>(kNew.size());
    e.newChecksum = sumOf(kNew);
    e.versions = {versionOf(kOld1), versionOf(kOld2)};
    return e;
}

class Verify : public ::testing::Test {
protected:
    ScratchFolder dir, alt;
    void SetUp() override {
        ensureTextBuffers();
        copyText(state.destinationDir, (dir.path() + "\\").c_str());
        state.alternateFolder[0] = state.messageSubject[0] = 0;
        fakeFreeClusters = 1 << 20;
        fakeDriveFails = false;
        diskFreeSpaceQuery = fakeDiskFreeSpace;
        dialogCalls = 0;
        dialogAnswer.clear();
        alternateFolderDialog = fakeDialog;
    }
    void TearDown() override {
        diskFreeSpaceQuery = platformDiskQuery;
        alternateFolderDialog = platformDialog;
    }
    std::string subject() const { return state.messageSubject; }
    bool readOnly(const std::string& p) { return GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_READONLY; }
};

}  // namespace

// The verdicts the destination page acts on.
TEST_F(Verify, NothingToDoNothingFoundAndAnEmptyTable) {
    {
        LoadedTable t({}, kKey);
        EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
        fakeFreeClusters = 0;  // a need of 0 is not below 0 KiB free
        EXPECT_EQ(verifyInstallation(), ERR_DISK_SPACE);
        fakeFreeClusters = 1 << 20;
    }
    writeBytes(dir / "a.bin", kNew);
    writeBytes(dir / "s.bin", kStrange);
    LoadedTable current({update("a.bin"), update("s.bin", PRES_REQUIRED, UNK_SKIP)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);  // current or skipped
    EXPECT_EQ(current.entry(0)->chosenVersion, CV_CURRENT);
    EXPECT_EQ(current.entry(1)->chosenVersion, CV_NONE);

    LoadedTable absent({update("x.bin", PRES_OPTIONAL), update("y\\z.bin", PRES_OPTIONAL)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_FOUND);
    EXPECT_EQ(absent.entry(1)->chosenVersion, CV_ABSENT);
}

TEST_F(Verify, MissingRequiredFileNamesItsPath) {
    writeBytes(dir / "a.bin", kOld1);
    LoadedTable t({update("a.bin"), update("sub\\gone.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_FILE_MISSING);
    EXPECT_EQ(subject(), dir / "sub\\gone.bin");
}

TEST_F(Verify, KnownVersionsAbsentNewFilesAndTotals) {
    writeBytes(dir / "a.bin", kOld2);
    LoadedTable t({update("a.bin"), update("c.bin", PRES_OPTIONAL), update("n.bin", PRES_NEW)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
    EXPECT_EQ(t.entry(2)->chosenVersion, CV_ABSENT);
    EXPECT_EQ(state.totalKiB, 3 * (kNew.size() / 1024 + 1));
    EXPECT_EQ(state.attributesChanged, 0u);

    LoadedTable created({update("n.bin", PRES_NEW)}, kKey);  // a created file alone is work
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
}

// Identification: the list is searched in order and before the new version;
// sizes must match too; the binding key unmasks the stored checksums.
TEST_F(Verify, IdentificationRules) {
    writeBytes(dir / "a.bin", kOld1);
    writeBytes(dir / "b.bin", kNew);
    std::vector<uint8_t> padded(4, 0);  // same checksum as kOld1, other size
    padded.insert(padded.end(), kOld1.begin(), kOld1.end());
    writeBytes(dir / "c.bin", padded);
    pkg::TableEntry a = update("a.bin"), b = update("b.bin"), c = update("c.bin", PRES_REQUIRED, UNK_SKIP);
    a.versions = {versionOf(kOld2), versionOf(kOld1), versionOf(kOld1)};
    b.versions = {versionOf(kOld1), versionOf(kNew)};
    LoadedTable t({a, b, c}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
    EXPECT_EQ(t.entry(1)->chosenVersion, 1);
    EXPECT_EQ(t.entry(2)->chosenVersion, CV_NONE);
    state.bindingKey ^= 1;
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(subject(), dir / "a.bin");
}

// Unknown versions, by the entry's rule.
TEST_F(Verify, UnknownVersionFailOrSkip) {
    writeBytes(dir / "a.bin", kStrange);
    LoadedTable fail({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(subject(), dir / "a.bin");

    writeBytes(dir / "b.bin", kOld1);
    LoadedTable skip({update("a.bin", PRES_REQUIRED, UNK_SKIP), update("b.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(skip.entry(0)->chosenVersion, CV_NONE);

    // A skipped delete entry still has its target tested: it will be deleted.
    pkg::TableEntry d = update("a.bin", PRES_OPTIONAL, UNK_SKIP);
    d.deleteFile = true;
    LoadedTable del({d}, kKey);
    HANDLE held = CreateFileA((dir / "a.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED);
    CloseHandle(held);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
}

TEST_F(Verify, AskFolderAcceptedReadsTheAlternateCopies) {
    writeBytes(dir / "bin\\a.bin", kStrange);
    writeBytes(dir / "bin\\b.bin", kStrange);
    writeBytes(alt / "sub\\bin\\a.bin", kOld2);
    writeBytes(alt / "sub\\bin\\b.bin", kOld1);
    dialogAnswer = alt.path() + "\\";
    LoadedTable t({update("bin\\a.bin", PRES_REQUIRED, UNK_ASK_FOLDER),
                   update("bin\\b.bin", PRES_REQUIRED, UNK_ASK_FOLDER)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(dialogCalls, 1);  // the second entry uses the folder without asking
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
    EXPECT_EQ(t.entry(1)->chosenVersion, 0);
    EXPECT_TRUE(t.entry(1)->flags & FE_FROM_ALT_FOLDER);
    EXPECT_EQ(std::string(state.targetPath), dir / "bin\\b.bin");
    EXPECT_EQ(std::string(state.workPath), alt / "sub\\bin\\b.bin");
}

TEST_F(Verify, AskFolderDeclinedMissingOrUnknownThere) {
    writeBytes(dir / "a.bin", kStrange);
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_ASK_FOLDER)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);  // declined
    EXPECT_EQ(subject(), dir / "a.bin");
    EXPECT_FALSE(t.entry(0)->flags & FE_FROM_ALT_FOLDER);

    dialogAnswer = alt.path() + "\\";
    EXPECT_EQ(verifyInstallation(), ERR_FILE_MISSING);  // not in that folder
    EXPECT_EQ(subject(), alt / "sub\\a.bin");

    writeBytes(alt / "sub\\a.bin", kStrange);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);  // there, but unknown too
    EXPECT_EQ(subject(), alt / "sub\\a.bin");

    // A copy of the new version there: nothing would update the installed
    // file, which stays unknown; not "already current".
    writeBytes(alt / "sub\\a.bin", kNew);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(subject(), dir / "a.bin");
    EXPECT_EQ(dialogCalls, 2);  // the chosen folder stays chosen
}

TEST_F(Verify, AskFolderThatIsTheInstallFolderItself) {
    writeBytes(dir / "sub\\a.bin", kStrange);
    pkg::TableEntry e = update("sub\\a.bin", PRES_REQUIRED, UNK_ASK_FOLDER);
    e.altSubfolder = "";
    for (char ch : dir.path()) dialogAnswer += static_cast<char>(toupper(ch));
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
}

// Access: every file to change must open for writing and reading; the pass
// puts attributes back exactly as it found them.
TEST_F(Verify, ReadOnlyTargetPassesAndStaysReadOnly) {
    writeBytes(dir / "a.bin", kOld1);
    writeBytes(dir / "b.bin", kNew);
    SetFileAttributesA((dir / "a.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((dir / "b.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    LoadedTable t({update("b.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
    EXPECT_EQ(state.attributesChanged, 0u);  // current files are not tested
    LoadedTable u({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(state.attributesChanged, 1u);
    EXPECT_TRUE(readOnly(dir / "a.bin"));
}

TEST_F(Verify, FileHeldOpenForWritingIsAccessDeniedNotMissing) {
    writeBytes(dir / "a.bin", kOld1);
    HANDLE held = CreateFileA((dir / "a.bin").c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (uint8_t presence : {PRES_REQUIRED, PRES_OPTIONAL, PRES_NEW}) {
        LoadedTable t({update("a.bin", presence)}, kKey);
        EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED) << int(presence);
        EXPECT_EQ(subject(), dir / "a.bin");
    }
    CloseHandle(held);
}

TEST_F(Verify, HeldFilesAreRefusedAndKeepTheirAttributes) {
    writeBytes(dir / "a.bin", kOld1);
    writeBytes(dir / "r.bin", kOld1);
    SetFileAttributesA((dir / "r.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    for (const char* name : {"a.bin", "r.bin"}) {
        // Others may read, not write: identification works, the write test fails.
        HANDLE held = CreateFileA((dir / name).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        LoadedTable t({update(name)}, kKey);
        EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED) << name;
        EXPECT_EQ(subject(), dir / name);
        CloseHandle(held);
    }
    EXPECT_FALSE(readOnly(dir / "a.bin"));
    EXPECT_TRUE(readOnly(dir / "r.bin"));
}

// Space: the largest rebuilt file plus every created file, in whole clusters,
// must stay below the free space.
TEST_F(Verify, SpaceBelowEqualAndAboveTheNeed) {
    writeBytes(dir / "a.bin", kOld1);
    writeBytes(dir / "b.bin", kOld2);
    pkg::TableEntry a = update("a.bin"), b = update("b.bin"), c = update("c.bin", PRES_NEW);
    a.newSize = 5000;  // 8 KiB
    b.newSize = 9000;  // 12 KiB, the largest rebuilt file, counts alone
    c.newSize = 4097;  // 8 KiB, created
    LoadedTable t({a, b, c}, kKey);
    for (uint32_t clusters : {4u, 5u, 6u}) {  // 16, 20 and 24 KiB against a need of 20
        fakeFreeClusters = clusters;
        EXPECT_EQ(verifyInstallation(), clusters < 6 ? ERR_DISK_SPACE : ERR_NONE) << clusters;
    }
    fakeDriveFails = true;  // free space unknown: no test
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
}

TEST(DriveQueries, LargeDrivesDoNotWrapAndClustersRoundUp) {
    diskFreeSpaceQuery = [](const char* root, uint32_t* spc, uint32_t* bps, uint32_t* fc, uint32_t*) {
        EXPECT_STREQ(root, "C:\\");
        *spc = 8, *bps = 512, *fc = 0x40000000;  // 4 TiB free
        return true;
    };
    EXPECT_EQ(freeSpaceKiB("C:\\Apps\\Tool\\"), int64_t(0x40000000) * 4);
    EXPECT_EQ(clusterKiB("C:\\Apps"), 4u);
    diskFreeSpaceQuery = [](const char*, uint32_t* spc, uint32_t* bps, uint32_t* fc, uint32_t*) {
        *spc = 3, *bps = 512, *fc = 10;  // 1.5 KiB clusters
        return true;
    };
    EXPECT_EQ(clusterKiB("D:\\"), 2u);
    EXPECT_EQ(freeSpaceKiB("D:\\"), 15);
    diskFreeSpaceQuery = [](const char*, uint32_t*, uint32_t*, uint32_t*, uint32_t*) { return false; };
    EXPECT_EQ(freeSpaceKiB("D:\\"), -1);
    EXPECT_EQ(clusterKiB("D:\\"), 32u);
    diskFreeSpaceQuery = platformDiskQuery;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_GT(freeSpaceKiB(temp), 0);  // the real drive answers
}

// A shared file that the version API reports in use stops the pass at once.
TEST_F(Verify, SharedFileInUse) {
    SharedFileSearch saved = sharedFileSearch;
    sharedFileSearch = [](uint32_t, const char*, const char*, const char*, char* cur, uint32_t*,
                          char* dest, uint32_t*) -> uint32_t {
        strcpy(cur, "C:\\windows\\system32");
        strcpy(dest, "C:\\windows\\system32");
        return VFF_FILEINUSE;
    };
    pkg::TableEntry e = update("lib\\shared.dll", PRES_OPTIONAL);
    e.location = LOC_SHARED;
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_FILE_IN_USE);
    EXPECT_EQ(subject(), "C:\\windows\\system32\\shared.dll");
    sharedFileSearch = saved;
}
