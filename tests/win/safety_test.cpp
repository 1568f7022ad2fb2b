// What the engine must never do, in either kind of run: delete a file that
// is none of the versions its entry lists, read the old data from an
// alternate copy chosen in an earlier pass, cut a path and use it,
// overwrite a file it did not create, or give up on a file that a virus
// scanner holds for a moment.
#include "install_support.h"

#include "package/format.h"
#include "pkg/differ.h"
#include "package/paths.h"

using namespace installtest;

class Safety : public EngineTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    const AlternateFolderDialog platformDialog = alternateFolderDialog;
    pkg::BuiltUpdate buildWith(const std::vector<pkg::FileSet>& olds, const pkg::FileSet& next,
                               pkg::UpdateOptions options = {}) {
        options.records.push_back(pkg::valueRecord(REC_OPTIONS, GetParam()));
        return build(olds, next, options);
    }
    void TearDown() override {
        alternateFolderDialog = platformDialog;
        EngineTest::TearDown();
    }
};

// A delete entry that lists versions deletes only a file verification
// identified as one of them; one that lists none deletes what it finds.
TEST_P(Safety, DeleteEntriesDeleteOnlyKnownVersions) {
    Bytes a1 = codeLike(30000, 1), a2 = codeLike(30000, 1, 8), plugin = noise(4000, 2), rebuilt = noise(4100, 3);
    buildWith({{{"a.dll", a1}, {"plugin.dll", plugin}}}, {{"a.dll", a2}});
    place({{"a.dll", a1}, {"plugin.dll", rebuilt}});
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    EXPECT_TRUE(read("plugin.dll") == rebuilt) << "a file of no listed version stays";
    EXPECT_EQ(outcomeOf("plugin.dll"), unsigned(OUT_NOT_DELETED));
    place({{"a.dll", a1}, {"plugin.dll", plugin}});
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    EXPECT_FALSE(exists("plugin.dll"));
    EXPECT_EQ(outcomeOf("plugin.dll"), unsigned(OUT_DELETED));

    // No versions listed: whatever is there goes, as packages written that
    // way rely on.
    pkg::TableEntry update;
    update.relativePath = "a.dll";
    update.newSize = uint32_t(a2.size());
    update.newChecksum = sumOf(a2);
    update.versions = {pkg::OldVersion{sumOf(a1), uint32_t(a1.size()), 0, 0}};
    pkg::TableEntry remove;
    remove.relativePath = "plugin.dll";
    remove.deleteFile = true;
    remove.presence = PRES_OPTIONAL;
    remove.onUnknownVersion = UNK_SKIP;
    Bytes delta = pkg::encodeDelta(pkg::diffFiles(a1, a2));
    Bytes stub = winsupport::realStub();
    pkg::FileTableBuilder table(pkg::stubBindingKey(stub));
    table.add(update).add(remove);
    pkg::writeFile(installer, pkg::buildInstaller(stub, {messageTexts(), pkg::valueRecord(REC_OPTIONS, GetParam()),
                                                         pkg::bufferRecord(REC_FILE_TABLE, table.bytes())},
                                                  delta));
    releasePackageData();
    load();
    place({{"a.dll", a1}, {"plugin.dll", rebuilt}});
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE);
    EXPECT_FALSE(exists("plugin.dll"));
}

// Pass one finds an unknown copy and takes the old data from the alternate
// folder (version 1 there); the user goes back, the installed copy is now
// version 2, and pass two must read the installed copy, not the alternate.
TEST_P(Safety, AlternateFolderIsDecidedAnewInEachPass) {
    ScratchFolder alt;
    Bytes v1 = codeLike(40000, 1), v2 = codeLike(40000, 1, 8), v3 = codeLike(40000, 1, 24);
    pkg::UpdateOptions options;
    options.rules["lib.dll"].onUnknownVersion = UNK_ASK_FOLDER;
    options.rules["lib.dll"].altSubfolder = "sub";
    buildWith({{{"lib.dll", v1}}, {{"lib.dll", v2}}}, {{"lib.dll", v3}}, options);
    writeBytes(alt / "sub\\lib.dll", v1);
    altFolder = alt.path();
    alternateFolderDialog = chooseAltFolder;
    place({{"lib.dll", noise(40000, 9)}});
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_NE(state.firstEntry->flags & FE_FROM_ALT_FOLDER, 0);
    place({{"lib.dll", v2}});
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(state.firstEntry->chosenVersion, 1);
    EXPECT_EQ(state.firstEntry->flags & FE_FROM_ALT_FOLDER, 0);
    EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    EXPECT_TRUE(read("lib.dll") == v3);
}

// Paths that do not fit 259 characters are refused by verification, naming
// the path, before anything is written: a target, a temporary name that
// outgrows its target's, an alternate copy.
TEST_P(Safety, PathsThatDoNotFitAreRefusedNotCut) {
    Bytes old = noise(1000, 1), next = noise(1000, 2);
    const std::string name = "abcdefghijklmnop.h";  // its temporary name is two longer
    buildWith({{{name, old}}}, {{name, next}});
    std::string base = install.path() + "\\";
    auto tryFolder = [&](size_t targetLength) {
        std::string dir = base + std::string(targetLength - base.size() - name.size() - 1, 'x');
        copyText(state.destinationDir, (dir + "\\").c_str());
        state.messageSubject[0] = 0;
        return verifyInstallation();
    };
    // A target of 259 characters fits, but its temporary name would need 261.
    EXPECT_EQ(tryFolder(259), ERR_PATH_TOO_LONG);
    EXPECT_EQ(std::string(state.messageSubject).substr(0, base.size()), base);
    EXPECT_EQ(tryFolder(262), ERR_PATH_TOO_LONG);
    EXPECT_EQ(strlen(state.messageSubject), TEXT_MAX) << "the subject is the path as far as it goes";
    // 257 fits with its temporary name; the folder is simply not there.
    EXPECT_EQ(tryFolder(257), ERR_FILE_MISSING);
    EXPECT_EQ(leftovers(), 0);

    ScratchFolder alt;
    pkg::UpdateOptions options;
    options.rules[name].onUnknownVersion = UNK_ASK_FOLDER;
    options.rules[name].altSubfolder = std::string(250, 's');
    buildWith({{{name, old}}}, {{name, next}}, options);
    altFolder = alt.path();
    alternateFolderDialog = chooseAltFolder;
    place({{name, noise(1000, 3)}});
    EXPECT_EQ(verify(), ERR_PATH_TOO_LONG);
    EXPECT_EQ(std::string(state.messageSubject).substr(0, alt.path().size()), alt.path());
}

// The temporary name steps on while its name is taken in any way: by a
// folder, by a file nobody can open. Neither is touched.
TEST_P(Safety, TemporaryFilesNeverReplaceAFileOfSomeoneElse) {
    Bytes old = codeLike(50000, 1), next = codeLike(50000, 1, 8);
    buildWith({{{"a.dll", old}}}, {{"a.dll", next}});
    place({{"a.dll", old}});
    CreateDirectoryA((install / "a.$$A").c_str(), 0);
    writeBytes(install / "a.$$B", {7, 7, 7});
    HANDLE locked = CreateFileA((install / "a.$$B").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    CloseHandle(locked);
    EXPECT_TRUE(read("a.dll") == next);
    EXPECT_EQ(std::string(state.scratchPath), install / "a.$$C");
    EXPECT_TRUE(read("a.$$B") == (Bytes{7, 7, 7}));
    EXPECT_NE(GetFileAttributesA((install / "a.$$A").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    DeleteFileA((install / "a.$$B").c_str());
    RemoveDirectoryA((install / "a.$$A").c_str());
}

// A scanner opens the freshly built file just as it is to take the target's
// place and lets go 300 ms later: the move waits (30, 60, 120 ... ms) and
// succeeds. One that never lets go makes the engine give up after about
// two seconds.
namespace {
struct Scanner {
    bool held = false;
    HANDLE released = CreateEventA(0, TRUE, FALSE, 0);
    HANDLE file = INVALID_HANDLE_VALUE;
    std::thread thread;
    bool forever = false;
    std::vector<uint32_t> waits;
    ~Scanner() {
        if (thread.joinable()) thread.join();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        CloseHandle(released);
    }
};
Scanner* scanner;

// Before the move: the temporary file is complete, and the scanner opens it.
void onCheckpoint() {
    if (scanner->file != INVALID_HANDLE_VALUE || !state.scratchPath[0]) return;
    HANDLE h = CreateFileA(state.scratchPath, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (h == INVALID_HANDLE_VALUE) return;
    if (GetFileSize(h, 0) != state.firstEntry->newSize) {
        CloseHandle(h);
        return;
    }
    scanner->file = h;
    scanner->held = true;
    if (scanner->forever) return;
    scanner->thread = std::thread([] {
        Sleep(300);
        CloseHandle(scanner->file);
        scanner->file = INVALID_HANDLE_VALUE;
        SetEvent(scanner->released);
    });
}

void onPause(uint32_t ms) {
    scanner->waits.push_back(ms);
    if (scanner->forever) return;
    Sleep(ms);
    // However slow this machine, the last attempt comes after the release.
    if (scanner->waits.size() == RETRY_ATTEMPTS) WaitForSingleObject(scanner->released, INFINITE);
}
}  // namespace

TEST_P(Safety, ReplacingWaitsOutAScanner) {
    Bytes old = codeLike(50000, 1), next = codeLike(50000, 1, 8);
    buildWith({{{"a.dll", old}}}, {{"a.dll", next}});
    for (bool forever : {false, true}) {
        place({{"a.dll", old}});
        ASSERT_EQ(verify(), ERR_NONE);
        Scanner s;
        s.forever = forever;
        scanner = &s;
        fileFaults.checkpoint = onCheckpoint;
        holdPause = onPause;
        int r = runAll();
        fileFaults.checkpoint = 0;
        holdPause = 0;
        if (s.thread.joinable()) s.thread.join();
        scanner = nullptr;
        ASSERT_TRUE(s.held) << "the scanner met the file";
        if (!forever) {
            EXPECT_EQ(r, ERR_NONE);
            EXPECT_TRUE(read("a.dll") == next);
            EXPECT_FALSE(s.waits.empty()) << "the first attempt met the scanner";
            EXPECT_EQ(leftovers(), 0);
            continue;
        }
        std::vector<uint32_t> first(s.waits.begin(), s.waits.begin() + std::min<size_t>(6, s.waits.size()));
        EXPECT_EQ(first, (std::vector<uint32_t>{30, 60, 120, 240, 480, 960})) << "about two seconds";
        EXPECT_TRUE(read("a.dll") == old);
        if (GetParam() & OPT_ALL_OR_NOTHING) {
            // Still held: the move waits for the next restart.
            EXPECT_EQ(r, ERR_RESTART_NEEDED);
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                              KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, "PendingFileRenameOperations");
                RegCloseKey(key);
            }
        } else {
            EXPECT_EQ(r, ERR_NOT_REPLACED);
        }
        CloseHandle(s.file);
        s.file = INVALID_HANDLE_VALUE;
        DeleteFileA((install / "a.$$A").c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(FileByFileAndAllOrNothing, Safety, ::testing::Values(0u, OPT_ALL_OR_NOTHING));
