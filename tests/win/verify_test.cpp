// verifyInstallation against real files under the Wine prefix: every result
// it can give, what it records per entry, and that it leaves installed files
// exactly as it found them.
#include "engine_support.h"

#include <cstring>

#include "engine/results.h"
#include "engine/target.h"
#include "engine/verify.h"

using namespace enginetest;

namespace {

const uint32_t kKey = 0x13572468;

// The seams as the program has them, put back after each test.
const DiskFreeSpaceQuery platformDiskQuery = diskFreeSpaceQuery;
const AlternateFolderDialog platformDialog = alternateFolderDialog;

// Free space as the test wants it: clusters of 4 KiB.
uint32_t fakeFreeClusters;
bool fakeDriveFails;
int fakeDiskFreeSpace(const char*, uint32_t* spc, uint32_t* bps, uint32_t* freeClusters,
                      uint32_t* total) {
    if (fakeDriveFails) return 0;
    *spc = 8;
    *bps = 512;
    *freeClusters = fakeFreeClusters;
    *total = fakeFreeClusters + 1000;
    return 1;
}

// The alternate-folder dialog as the test answers it.
int dialogCalls;
std::string dialogAnswer;  // empty = declined
bool fakeDialog(void*) {
    dialogCalls++;
    if (dialogAnswer.empty()) return false;
    copyText(state.alternateFolder, dialogAnswer.c_str());
    return true;
}

const std::vector<uint8_t> kOld1 = content("old version one ", 300);
const std::vector<uint8_t> kOld2 = content("old version two!", 500);
const std::vector<uint8_t> kNew = content("the new version ", 700);
const std::vector<uint8_t> kStrange = content("nobody knows me", 100);

pkg::EntrySpec update(const char* rel, uint8_t presence = PRES_REQUIRED,
                      uint8_t onUnknown = UNK_FAIL) {
    pkg::EntrySpec e;
    e.relativePath = rel;
    e.altSubfolder = "sub";
    e.presence = presence;
    e.onUnknownVersion = onUnknown;
    e.newSize = static_cast<uint32_t>(kNew.size());
    e.newChecksum = sumOf(kNew);
    e.versions = {versionOf(kOld1), versionOf(kOld2)};
    return e;
}

class Verify : public ::testing::Test {
protected:
    ScratchFolder dir;
    void SetUp() override {
        ensureTextBuffers();
        copyText(state.destinationDir, (dir.path() + "\\").c_str());
        state.alternateFolder[0] = 0;
        state.messageSubject[0] = 0;
        fakeFreeClusters = 1 << 20;  // 4 GiB
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
};

}  // namespace

// The overall verdicts the destination page acts on.
TEST_F(Verify, EmptyTableIsNothingToDoUnlessTheDriveIsFull) {
    LoadedTable t({}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
    fakeFreeClusters = 0;  // a need of 0 is not below 0 KiB
    EXPECT_EQ(verifyInstallation(), ERR_DISK_SPACE);
}

TEST_F(Verify, EverythingCurrentIsNothingToDo) {
    writeBytes(dir / "a.bin", kNew);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
    EXPECT_EQ(t.entry(0)->chosenVersion, CV_CURRENT);
}

TEST_F(Verify, NoFileFoundWhenAllUpdateEntriesAreAbsentAndOptional) {
    LoadedTable t({update("a.bin", PRES_OPTIONAL), update("b\\c.bin", PRES_OPTIONAL)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_FOUND);
    EXPECT_EQ(t.entry(0)->chosenVersion, CV_ABSENT);
    EXPECT_EQ(t.entry(1)->chosenVersion, CV_ABSENT);
}

TEST_F(Verify, MissingRequiredFileNamesItsPath) {
    writeBytes(dir / "a.bin", kOld1);
    LoadedTable t({update("a.bin"), update("sub\\gone.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_FILE_MISSING);
    EXPECT_EQ(subject(), dir / "sub\\gone.bin");
}

TEST_F(Verify, AnAbsentNewFileIsWorkAndCountsTowardsTheSpace) {
    pkg::EntrySpec created = update("added.bin", PRES_NEW);
    created.newSize = 10000;  // 12 KiB in 4 KiB clusters
    LoadedTable t({created}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, CV_ABSENT);
    fakeFreeClusters = 3;  // 12 KiB free: equal to the need fails
    EXPECT_EQ(verifyInstallation(), ERR_DISK_SPACE);
}

TEST_F(Verify, KnownVersionsAreWorkAndTotalsAreCounted) {
    writeBytes(dir / "a.bin", kOld2);
    writeBytes(dir / "b.bin", kNew);
    LoadedTable t({update("a.bin"), update("b.bin"), update("c.bin", PRES_OPTIONAL)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
    EXPECT_EQ(t.entry(1)->chosenVersion, CV_CURRENT);
    EXPECT_EQ(t.entry(2)->chosenVersion, CV_ABSENT);
    EXPECT_EQ(state.totalKiB, 3 * (kNew.size() / 1024 + 1));
    EXPECT_EQ(state.attributesChanged, 0u);
}

// Identification: versions are tried in list order, before the new version,
// and the binding key unmasks the stored checksums.
TEST_F(Verify, FirstMatchingVersionWins) {
    writeBytes(dir / "a.bin", kOld1);
    pkg::EntrySpec e = update("a.bin");
    e.versions = {versionOf(kOld2), versionOf(kOld1), versionOf(kOld1)};
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
}

TEST_F(Verify, ListedVersionWinsOverTheNewVersion) {
    writeBytes(dir / "a.bin", kNew);
    pkg::EntrySpec e = update("a.bin");
    e.versions = {versionOf(kOld1), versionOf(kNew)};
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
}

TEST_F(Verify, ChecksumMatchWithAnotherSizeIsNoMatch) {
    // Leading zero words do not change the checksum; the size tells them apart.
    std::vector<uint8_t> padded(4, 0);
    padded.insert(padded.end(), kOld1.begin(), kOld1.end());
    ASSERT_EQ(sumOf(padded), sumOf(kOld1));
    writeBytes(dir / "a.bin", padded);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
}

TEST_F(Verify, WrongBindingKeyRecognisesNothing) {
    writeBytes(dir / "a.bin", kOld1);
    LoadedTable t({update("a.bin")}, kKey);
    state.bindingKey = kKey ^ 1;
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
}

// Unknown versions, by the entry's rule.
TEST_F(Verify, UnknownVersionFails) {
    writeBytes(dir / "a.bin", kStrange);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(subject(), dir / "a.bin");
    EXPECT_EQ(t.entry(0)->chosenVersion, CV_NONE);
}

TEST_F(Verify, UnknownVersionSkipped) {
    writeBytes(dir / "a.bin", kStrange);
    writeBytes(dir / "b.bin", kOld1);
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_SKIP), update("b.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(t.entry(0)->chosenVersion, CV_NONE);
    EXPECT_EQ(t.entry(1)->chosenVersion, 0);
}

TEST_F(Verify, OnlySkippedFilesIsNothingToDo) {
    writeBytes(dir / "a.bin", kStrange);
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_SKIP)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
}

TEST_F(Verify, SkippedDeleteEntryStillHasItsTargetTested) {
    writeBytes(dir / "a.bin", kStrange);
    pkg::EntrySpec d = update("a.bin", PRES_OPTIONAL, UNK_SKIP);
    d.deleteFile = true;
    LoadedTable t({d}, kKey);
    HANDLE held = CreateFileA((dir / "a.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, 0,
                              OPEN_EXISTING, 0, 0);  // readable, not writable by others
    EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED);
    CloseHandle(held);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
}

TEST_F(Verify, AskFolderAcceptedReadsTheAlternateCopy) {
    ScratchFolder alt;
    writeBytes(dir / "bin\\a.bin", kStrange);
    writeBytes(dir / "bin\\b.bin", kStrange);
    writeBytes(alt / "sub\\bin\\a.bin", kOld2);
    writeBytes(alt / "sub\\bin\\b.bin", kOld1);
    dialogAnswer = alt.path() + "\\";
    LoadedTable t({update("bin\\a.bin", PRES_REQUIRED, UNK_ASK_FOLDER),
                   update("bin\\b.bin", PRES_REQUIRED, UNK_ASK_FOLDER)},
                  kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(dialogCalls, 1);  // the second entry uses the folder without asking
    EXPECT_EQ(t.entry(0)->chosenVersion, 1);
    EXPECT_EQ(t.entry(1)->chosenVersion, 0);
    EXPECT_TRUE(t.entry(0)->flags & FE_FROM_ALT_FOLDER);
    EXPECT_EQ(std::string(state.targetPath), dir / "bin\\b.bin");
    EXPECT_EQ(std::string(state.workPath), alt / "sub\\bin\\b.bin");
}

TEST_F(Verify, AskFolderDeclined) {
    writeBytes(dir / "a.bin", kStrange);
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_ASK_FOLDER)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(dialogCalls, 1);
    EXPECT_EQ(subject(), dir / "a.bin");
    EXPECT_FALSE(t.entry(0)->flags & FE_FROM_ALT_FOLDER);
}

TEST_F(Verify, AskFolderWithoutTheFileThere) {
    ScratchFolder alt;
    writeBytes(dir / "a.bin", kStrange);
    dialogAnswer = alt.path() + "\\";
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_ASK_FOLDER)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_FILE_MISSING);
    EXPECT_EQ(subject(), alt / "sub\\a.bin");
}

TEST_F(Verify, AskFolderWhoseCopyIsUnknownToo) {
    ScratchFolder alt;
    writeBytes(dir / "a.bin", kStrange);
    writeBytes(alt / "sub\\a.bin", kStrange);
    dialogAnswer = alt.path() + "\\";
    LoadedTable t({update("a.bin", PRES_REQUIRED, UNK_ASK_FOLDER)}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
    EXPECT_EQ(subject(), alt / "sub\\a.bin");
}

TEST_F(Verify, AskFolderPointingAtTheInstalledFileItself) {
    // The alternate path equals the target (case aside): no second look.
    writeBytes(dir / "sub\\a.bin", kStrange);
    pkg::EntrySpec e = update("a.bin", PRES_REQUIRED, UNK_ASK_FOLDER);
    e.relativePath = "sub\\a.bin";
    e.altSubfolder = "";
    dialogAnswer = dir.path();
    for (char& c : dialogAnswer) c = static_cast<char>(toupper(c));
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_UNKNOWN_VERSION);
}

// Access: the pass proves every file to change can be written, and leaves
// attributes as it found them.
TEST_F(Verify, ReadOnlyTargetPassesAndStaysReadOnly) {
    std::string path = dir / "a.bin";
    writeBytes(path, kOld1);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    EXPECT_EQ(state.attributesChanged, 1u);
    EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Verify, CurrentFilesAreNotAccessTested) {
    std::string path = dir / "a.bin";
    writeBytes(path, kNew);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_NOTHING_TO_DO);
    EXPECT_EQ(state.attributesChanged, 0u);
}

TEST_F(Verify, FileHeldOpenForWritingIsAccessDeniedNotMissing) {
    std::string path = dir / "a.bin";
    writeBytes(path, kOld1);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (uint8_t presence : {PRES_REQUIRED, PRES_OPTIONAL, PRES_NEW}) {
        LoadedTable t({update("a.bin", presence)}, kKey);
        state.messageSubject[0] = 0;
        EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED) << int(presence);
        EXPECT_EQ(subject(), path);
    }
    CloseHandle(held);
}

TEST_F(Verify, HeldWritableFileIsRefusedAndNotMadeReadOnly) {
    std::string path = dir / "a.bin";
    writeBytes(path, kOld1);
    // Others may read but not write: identification works, the write test fails.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED);
    EXPECT_EQ(subject(), path);
    CloseHandle(held);
    EXPECT_FALSE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Verify, ReadOnlyAndHeldIsRefusedAndKeepsItsAttribute) {
    std::string path = dir / "a.bin";
    writeBytes(path, kOld1);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    LoadedTable t({update("a.bin")}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_ACCESS_DENIED);
    CloseHandle(held);
    EXPECT_EQ(state.attributesChanged, 1u);
    EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
}

// Space: one rebuilt file (the largest) plus every created file, in whole
// clusters, must stay below the free space.
TEST_F(Verify, SpaceBelowEqualAndAboveTheNeed) {
    writeBytes(dir / "a.bin", kOld1);
    writeBytes(dir / "b.bin", kOld2);
    pkg::EntrySpec a = update("a.bin"), b = update("b.bin"), c = update("c.bin", PRES_NEW);
    a.newSize = 5000;   // 8 KiB
    b.newSize = 9000;   // 12 KiB: the largest rebuilt file counts alone
    c.newSize = 4097;   // 8 KiB, created
    LoadedTable t({a, b, c}, kKey);
    fakeFreeClusters = 4;  // 16 KiB < 20 KiB
    EXPECT_EQ(verifyInstallation(), ERR_DISK_SPACE);
    fakeFreeClusters = 5;  // 20 KiB = need
    EXPECT_EQ(verifyInstallation(), ERR_DISK_SPACE);
    fakeFreeClusters = 6;
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
    fakeDriveFails = true;  // unknown free space: no test
    fakeFreeClusters = 0;
    EXPECT_EQ(verifyInstallation(), ERR_NONE);
}

TEST(DriveQueries, LargeDrivesDoNotWrapAndClustersRoundUp) {
    diskFreeSpaceQuery = [](const char* root, uint32_t* spc, uint32_t* bps, uint32_t* fc,
                            uint32_t* tc) -> int {
        EXPECT_STREQ(root, "C:\\");
        *spc = 8, *bps = 512, *fc = 0x40000000, *tc = 0x40000000;  // 4 TiB free
        return 1;
    };
    EXPECT_EQ(freeSpaceKiB("C:\\Apps\\Tool\\"), int64_t(0x40000000) * 4);
    EXPECT_EQ(clusterKiB("C:\\Apps"), 4u);
    diskFreeSpaceQuery = [](const char*, uint32_t* spc, uint32_t* bps, uint32_t* fc,
                            uint32_t* tc) -> int {
        *spc = 3, *bps = 512, *fc = 10, *tc = 10;  // 1.5 KiB clusters
        return 1;
    };
    EXPECT_EQ(clusterKiB("D:\\"), 2u);
    EXPECT_EQ(freeSpaceKiB("D:\\"), 15);
    diskFreeSpaceQuery = [](const char*, uint32_t*, uint32_t*, uint32_t*, uint32_t*) -> int {
        return 0;
    };
    EXPECT_EQ(freeSpaceKiB("D:\\"), -1);
    EXPECT_EQ(clusterKiB("D:\\"), 32u);
    diskFreeSpaceQuery = platformDiskQuery;
}

// The real drive of the Wine prefix answers through the platform query.
TEST(DriveQueries, RealDrive) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_GT(freeSpaceKiB(temp), 0);
    uint32_t cluster = clusterKiB(temp);
    EXPECT_TRUE(cluster >= 1 && cluster <= 64) << cluster;
}

// A shared file the version API reports in use stops the pass at once.
TEST_F(Verify, SharedFileInUse) {
    SharedFileSearch saved = sharedFileSearch;
    sharedFileSearch = [](uint32_t, const char*, const char*, const char*, char* cur, uint32_t*,
                          char* dest, uint32_t*) -> uint32_t {
        strcpy(cur, "C:\\windows\\system32");
        strcpy(dest, "C:\\windows\\system32");
        return VFF_FILEINUSE;
    };
    pkg::EntrySpec e = update("lib\\shared.dll", PRES_OPTIONAL);
    e.location = LOC_SHARED;
    LoadedTable t({e}, kKey);
    EXPECT_EQ(verifyInstallation(), ERR_FILE_IN_USE);
    EXPECT_EQ(subject(), "C:\\windows\\system32\\shared.dll");
    sharedFileSearch = saved;
}
