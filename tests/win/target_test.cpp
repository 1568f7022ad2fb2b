// resolveTarget: where each entry's file is looked for, by location, and the
// shared-file search with the file in the suggested folder, in the current
// folder, or nowhere.
#include "engine_support.h"

#include <cstring>

#include "engine/target.h"
#include "package/paths.h"

using namespace enginetest;

namespace {

std::string folder(UINT (*get)(LPSTR, UINT)) {
    char w[MAX_PATH];
    get(w, MAX_PATH);
    return w;
}
const std::string windowsDir = folder(GetWindowsDirectoryA);
const std::string systemDir = folder(GetSystemDirectoryA);

// What the faked version API answers, and what it was asked.
std::string fakeCurrent, fakeSuggested, askedName, askedAppDir;
uint32_t fakeResult;
uint32_t fakeSearch(uint32_t flags, const char* name, const char*, const char* appDir, char* cur,
                    uint32_t*, char* dest, uint32_t*) {
    askedName = name;
    askedAppDir = appDir;
    strcpy(cur, fakeCurrent.c_str());
    strcpy(dest, fakeSuggested.c_str());
    return flags == VFFF_ISSHAREDFILE ? fakeResult : 0xFFFF;
}

class Target : public ::testing::Test {
protected:
    ScratchFolder dir, other;
    const SharedFileSearch platformSearch = sharedFileSearch;
    std::string unique = "updtest_" + std::to_string(GetCurrentProcessId()) + ".dll";
    void SetUp() override {
        ensureTextBuffers();
        copyText(state.destinationDir, (dir.path() + "\\").c_str());
        fakeResult = 0;
        fakeCurrent = fakeSuggested = "";
    }
    void TearDown() override { sharedFileSearch = platformSearch; }
    std::string resolve(uint8_t location, const std::string& rel, int expected = ERR_NONE) {
        pkg::TableEntry e;
        e.relativePath = rel;
        e.location = location;
        LoadedTable t({e}, 0);
        EXPECT_EQ(resolveTarget(t.entry(0)), expected);
        return state.targetPath;
    }
};

}  // namespace

TEST_F(Target, InstallAndWindowsFolders) {
    EXPECT_EQ(resolve(LOC_INSTALL_DIR, "bin\\x\\tool.dll"), dir / "bin\\x\\tool.dll");
    EXPECT_EQ(resolve(3, "a.txt"), dir / "a.txt");  // unknown locations: the install folder
    EXPECT_EQ(resolve(LOC_WINDOWS_DIR, "fonts\\x.fon"), windowsDir + "\\fonts\\x.fon");
    EXPECT_EQ(resolve(LOC_INSTALL_DIR, std::string(300, 'n')).size(), 259u);  // cut, not overrun
}

// The real version API under Wine: shared files belong in the system folder.
TEST_F(Target, SharedFileWithTheRealVersionApi) {
    std::string inSystem = systemDir + "\\" + unique;
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\" + unique), inSystem);  // nowhere: suggested folder
    writeBytes(dir / unique, content("app copy"));
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\" + unique), dir / unique);  // only the current copy
    writeBytes(inSystem, content("shared"));
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\" + unique), inSystem);  // suggested folder first
    DeleteFileA(inSystem.c_str());
}

// Each answer of the search, as the program treats it.
TEST_F(Target, SharedSearchAnswers) {
    sharedFileSearch = fakeSearch;
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), dir / "lib\\x.dll");  // no folder named
    EXPECT_EQ(askedName, "x.dll");
    EXPECT_EQ(askedAppDir, dir.path());  // without its backslash

    fakeCurrent = other.path();  // a current folder but no suggested one
    writeBytes(other / "x.dll", content("x"));
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), other / "x.dll");
    DeleteFileA((other / "x.dll").c_str());
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll"), dir / "lib\\x.dll");

    fakeSuggested = "C:\\windows\\system32";
    fakeResult = VFF_FILEINUSE;  // in use: the path of the copy in use
    EXPECT_EQ(resolve(LOC_SHARED, "lib\\x.dll", ERR_FILE_IN_USE), other / "x.dll");
}
