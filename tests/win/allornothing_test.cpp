// All-or-nothing installations: every new file is built and proven beside
// its target before any target is replaced or any file deleted. Whatever
// stops the run before that point (a damaged delta, a full disk, Cancel)
// leaves every installed file byte-exactly old, no temporary file, journal
// or new folder behind. A target in use at the end is replaced at the next
// restart.
#include "install_support.h"

#include "engine/journal.h"  // JOURNAL_SLOT
#include "package/format.h"

using namespace installtest;

class AllOrNothing : public EngineTest {
protected:
    // Four files to update (the third a text, the last rewritten whole),
    // one the update adds in a new folder and one it deletes.
    pkg::FileSet before = {{"a.dll", codeLike(200000, 1)},
                           {"b.dll", codeLike(120000, 2)},
                           {"c.txt", noise(90000, 3)},
                           {"d.bin", noise(60000, 4)},
                           {"gone.txt", noise(3000, 5)}};
    pkg::FileSet after = {{"a.dll", codeLike(200000, 1, 16)},
                          {"b.dll", codeLike(125000, 2, 8)},
                          {"c.txt", cat(noise(90000, 3), noise(500, 6))},
                          {"d.bin", noise(61000, 7)},
                          {"new\\e.dat", noise(40000, 8)}};
    pkg::BuiltUpdate update;

    static Bytes cat(Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    void buildIt() {
        pkg::UpdateOptions options;
        options.records.push_back(pkg::valueRecord(REC_OPTIONS, OPT_ALL_OR_NOTHING));
        update = build({before}, after, options);
        ASSERT_EQ(update.entries.size(), 6u);
        ASSERT_EQ(update.entries[2].relativePath, "c.txt");
        place(before);
    }
    void expectNothingChanged() {
        for (const auto& [rel, bytes] : before) EXPECT_TRUE(read(rel) == bytes) << rel;
        EXPECT_FALSE(exists("new")) << "the folder the run made is gone";
        EXPECT_EQ(leftovers(), 0) << "no temporary file and no journal";
    }
    void expectAllNew() {
        for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel;
        EXPECT_FALSE(exists("gone.txt"));
    }
};

TEST_F(AllOrNothing, EveryFileIsProvenBeforeAnyIsReplaced) {
    buildIt();
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(beginInstallation(), ERR_NONE);
    int built = 0;
    while (installNextFile(0) == STEP_OK) {
        built++;
        for (const auto& [rel, bytes] : before) EXPECT_TRUE(read(rel) == bytes) << rel << " after step " << built;
        EXPECT_TRUE(outcomes.empty()) << "nothing is reported before the replacement phase";
        EXPECT_LT(percents.back(), 100u) << "the bar spans both phases";
    }
    finishInstallation();
    EXPECT_EQ(built, 5) << "one step per file to build; deletions wait";
    EXPECT_EQ(finalResultCode(), ERR_NONE);
    expectAllNew();
    EXPECT_EQ(leftovers(), 0);
    std::vector<std::string> order;
    for (const auto& [path, o] : outcomes) order.push_back(path.substr(install.path().size() + 1));
    EXPECT_EQ(order, (std::vector<std::string>{"a.dll", "b.dll", "c.txt", "d.bin", "new\\e.dat", "gone.txt"}))
        << "replaced and deleted in table order";
    EXPECT_EQ(outcomeOf("new\\e.dat"), unsigned(OUT_CREATED));
    EXPECT_EQ(outcomeOf("gone.txt"), unsigned(OUT_DELETED));
    for (size_t i = 1; i < percents.size(); i++) EXPECT_GE(percents[i], percents[i - 1]);
    EXPECT_EQ(percents.back(), 100u);
}

TEST_F(AllOrNothing, DamagedDeltaOfTheThirdFileChangesNothing) {
    buildIt();
    // Damage the middle of the third file's data in the installer.
    Bytes file = pkg::readFile(installer);
    uint32_t from = update.entries[2].versions[0].dataOffset, to = update.entries[3].versions[0].dataOffset;
    file[state.dataAreaOffset + 4 + (from + to) / 2] ^= 0x55;
    pkg::writeFile(installer, file);
    finishInstallation();
    releasePackageData();
    load();
    ASSERT_EQ(verify(), ERR_NONE);
    int r = runAll();
    EXPECT_TRUE(r == ERR_VERIFY || r == ERR_READ) << r;
    expectNothingChanged();
    EXPECT_TRUE(outcomes.empty());
}

TEST_F(AllOrNothing, FullDiskOnTheSecondFileChangesNothing) {
    buildIt();
    for (int shortWrite = 0; shortWrite < 2; shortWrite++) {
        place(before);
        ASSERT_EQ(verify(), ERR_NONE);
        // The first file and the journal's slots fit; the second runs out.
        fileFaults = {int64_t(after["a.dll"].size()) + 4 * JOURNAL_SLOT + 60000, shortWrite, 0};
        int r = runAll();
        fileFaults = {-1, 0, 0};
        EXPECT_EQ(r, shortWrite ? ERR_DISK_FULL : ERR_WRITE);
        expectNothingChanged();
    }
}

TEST_F(AllOrNothing, CancelBetweenFilesChangesNothing) {
    buildIt();
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(beginInstallation(), ERR_NONE);
    for (int i = 0; i < 5; i++) ASSERT_EQ(installNextFile(0), STEP_OK);  // up to the new file in its new folder
    EXPECT_TRUE(exists("new")) << "the run made the folder";
    EXPECT_EQ(leftovers(), 6) << "five proven temporary files and the journal";
    // What the progress page does on Yes to its cancel question.
    state.resultCode = ERR_CANCELLED;
    finishInstallation();
    expectNothingChanged();
    EXPECT_EQ(finalResultCode(), ERR_CANCELLED);
    // A later run starts afresh and completes.
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    expectAllNew();
}

// A temporary file another program holds open (a scanner) cannot be deleted
// when the run is cancelled: the journal that names it stays, and the next
// run deletes it before it starts its own.
TEST_F(AllOrNothing, TemporaryHeldAtCancelIsDeletedByTheNextRun) {
    buildIt();
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(beginInstallation(), ERR_NONE);
    ASSERT_EQ(installNextFile(0), STEP_OK);
    HANDLE held = CreateFileA((install / "a.$$A").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    state.resultCode = ERR_CANCELLED;
    finishInstallation();
    for (const auto& [rel, bytes] : before) EXPECT_TRUE(read(rel) == bytes) << rel;
    EXPECT_TRUE(exists(JOURNAL_NAME));
    EXPECT_EQ(leftovers(), 2) << "the held temporary file and the journal";
    CloseHandle(held);
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    expectAllNew();
    EXPECT_EQ(leftovers(), 0);
}

// A target held open at the end is scheduled to be replaced when Windows
// restarts: the proven file stays under its temporary name, the list says
// so, and the finish page asks for a restart. Where scheduling is refused
// (here: the route of the old family, which has no MoveFileExA), the target
// keeps its old content as in a file-by-file run.
TEST_F(AllOrNothing, TargetInUseIsReplacedAtTheNextRestart) {
    buildIt();
    ASSERT_EQ(verify(), ERR_NONE);
    HANDLE held = CreateFileA((install / "b.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    holdPause = [](uint32_t) {};  // the back-off, without its wait
    EXPECT_EQ(runAll(), ERR_RESTART_NEEDED);
    CloseHandle(held);
    EXPECT_EQ(outcomeOf("b.dll"), unsigned(OUT_AT_RESTART));
    EXPECT_EQ(outcomeOf("a.dll"), unsigned(OUT_REPLACED));
    EXPECT_TRUE(read("b.dll") == before["b.dll"]);
    EXPECT_TRUE(read("b.$$A") == after["b.dll"]) << "the proven file waits for the restart";
    EXPECT_EQ(leftovers(), 1);

    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    std::vector<char> pending(65536);
    DWORD size = static_cast<DWORD>(pending.size()), type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", 0, &type,
                               reinterpret_cast<BYTE*>(pending.data()), &size),
              ERROR_SUCCESS);
    std::string all(pending.data(), size);
    EXPECT_NE(all.find("b.$$A"), std::string::npos) << "the move is scheduled";
    RegDeleteValueA(key, "PendingFileRenameOperations");  // this prefix never restarts with it
    RegCloseKey(key);
}

TEST_F(AllOrNothing, RefusedSchedulingKeepsTheOldFile) {
    buildIt();
    ASSERT_EQ(verify(), ERR_NONE);
    replaceWithoutMoveFileEx = 1;
    holdPause = [](uint32_t) {};
    HANDLE held = CreateFileA((install / "b.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(runAll(), ERR_NOT_REPLACED);
    CloseHandle(held);
    EXPECT_EQ(outcomeOf("b.dll"), unsigned(OUT_NOT_REPLACED));
    EXPECT_TRUE(read("b.dll") == before["b.dll"]);
    EXPECT_EQ(leftovers(), 0);
}

// The space test counts every temporary file at once: a drive with room for
// the largest file (enough file by file) is refused.
TEST_F(AllOrNothing, SpaceForEveryTemporaryFileAtOnce) {
    buildIt();
    static uint32_t freeClusters;
    DiskFreeSpaceQuery platform = diskFreeSpaceQuery;
    diskFreeSpaceQuery = [](const char*, uint32_t* spc, uint32_t* bps, uint32_t* fc, uint32_t* tc) {
        *spc = 1;
        *bps = 4096;
        *fc = freeClusters;
        *tc = freeClusters;
        return true;
    };
    uint32_t all = 0;
    for (const auto& [rel, bytes] : after) all += uint32_t(bytes.size() + 4095) / 4096;
    freeClusters = all;  // exactly the need: refused
    EXPECT_EQ(verify(), ERR_DISK_SPACE);
    freeClusters = all + 1;
    EXPECT_EQ(verify(), ERR_NONE);
    diskFreeSpaceQuery = platform;
}
