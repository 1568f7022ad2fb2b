// resolveTarget: where each entry's file is looked for, by location, and the
// shared-file search through the version API with the file in the suggested
// folder, in the current folder, or nowhere.
#include "engine_support.h"

#include <cstring>

#include "engine/target.h"

using namespace enginetest;

namespace {

std::string windowsDir() {
    char w[MAX_PATH];
    GetWindowsDirectoryA(w, MAX_PATH);
    return w;
}
std::string systemDir() {
    char s[MAX_PATH];
    GetSystemDirectoryA(s, MAX_PATH);
    return s;
}

class Target : public ::testing::Test {
protected:
    ScratchFolder dir;
    const SharedFileSearch platformSearch = sharedFileSearch;
    void SetUp() override {
        ensureTextBuffers();
        copyText(state.destinationDir, (dir.path() + "\\").c_str());
    }
    void TearDown() override { sharedFileSearch = platformSearch; }
    std::string resolve(uint8_t location, const char* rel, int expected = 0) {
        pkg::EntrySpec e;
        e.relativePath = rel;
        e.location = location;
        LoadedTable t({e}, 0);
        EXPECT_EQ(resolveTarget(t.entry(0)), expected);
        return state.targetPath;
    }
};

// What the fake version API answers.
const char* fakeCurrent;
const char* fakeSuggested;
uint32_t fakeResult;
std::string seenFileName, seenAppDir;
uint32_t fakeSearch(uint32_t flags, const char* fileName, const char*, const char* appDir,
                    char* cur, uint32_t*, char* dest, uint32_t*) {
    EXPECT_EQ(flags, uint32_t(VFFF_ISSHAREDFILE));
    seenFileName = fileName;
    seenAppDir = appDir;
    strcpy(cur, fakeCurrent);
    strcpy(dest, fakeSuggested);
    return fakeResult;
}

}  // namespace

TEST_F(Target, InstallFolderWithSubfolders) {
    EXPECT_EQ(resolve(LOC_INSTALL_DIR, "bin\\x\\tool.dll"), dir / "bin\\x\\tool.dll");
}

TEST_F(Target, UnknownLocationsMeanTheInstallFolder) {
    EXPECT_EQ(resolve(3, "a.txt"), dir / "a.txt");
    EXPECT_EQ(resolve(200, "a.txt"), dir / "a.txt");
}

TEST_F(Target, WindowsFolderWithTheWholeRelativePath) {
    EXPECT_EQ(resolve(LOC_WINDOWS_DIR, "fonts\\x.fon"), windowsDir() + "\\fonts\\x.fon");
}

TEST_F(Target, OverlongPathsAreCutNotOverrun) {
    std::string rel(300, 'n');
    std::string got = resolve(LOC_INSTALL_DIR, rel.c_str());
    EXPECT_EQ(got.size(), 259u);
}

// The real version API under Wine: shared files belong in the system folder.
TEST_F(Target, SharedFilePresentInTheSuggestedFolder) {
    std::string name = "updtest_" + std::to_string(GetCurrentProcessId()) + ".dll";
    std::string inSystem = systemDir() + "\\" + name;
    writeBytes(inSystem, content("shared"));
    writeBytes(dir / name, content("app copy"));
    EXPECT_EQ(resolve(LOC_SHARED, ("lib\\" + name).c_str()), inSystem);
    DeleteFileA(inSystem.c_str());
}

TEST_F(Target, SharedFilePresentOnlyInTheCurrentFolder) {
    std::string name = "updtest_cur_" + std::to_string(GetCurrentProcessId()) + ".dll";
    writeBytes(dir / name, content("app copy"));
    EXPECT_EQ(resolve(LOC_SHARED, ("lib\\" + name).c_str()), dir / name);
}

TEST_F(Target, SharedFilePresentNowhere) {
    std::string name = "updtest_none_" + std::to_string(GetCurrentProcessId()) + ".dll";
    EXPECT_EQ(resolve(LOC_SHARED, ("lib\\" + name).c_str()), systemDir() + "\\" + name);
}

// The search's answers, each one as the program treats it.
TEST_F(Target, SharedSearchGetsTheBaseNameAndTheAppFolder) {
    sharedFileSearch = fakeSearch;
    fakeCurrent = fakeSuggested = "";
    fakeResult = 0;
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), dir / "lib\\x.dll");  // no folder named
    EXPECT_EQ(seenFileName, "x.dll");
    EXPECT_EQ(seenAppDir, dir.path());  // without its backslash
}

TEST_F(Target, SharedCurrentCopyWithoutSuggestedFolder) {
    ScratchFolder other;
    writeBytes(other / "x.dll", content("x"));
    sharedFileSearch = fakeSearch;
    std::string cur = other.path();
    fakeCurrent = cur.c_str();
    fakeSuggested = "";
    fakeResult = 0;
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), other / "x.dll");
    DeleteFileA((other / "x.dll").c_str());
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), dir / "lib\\x.dll");
}

TEST_F(Target, SharedFileInUseNamesTheCopyInUse) {
    ScratchFolder other;
    sharedFileSearch = fakeSearch;
    std::string cur = other.path();
    fakeCurrent = cur.c_str();
    fakeSuggested = "C:\\windows\\system32";
    fakeResult = VFF_FILEINUSE;
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll", 1), other / "x.dll");
    fakeCurrent = "";
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll", 1), dir / "lib\\x.dll");
}
