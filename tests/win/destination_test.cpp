// The proposed destination folder: from a registry value or an INI entry
// cut back to an existing folder and respelled as stored on disk, or from a
// folder macro in the package's default text.
#include "engine_support.h"

#include <cstring>

#include "engine/paths.h"
#include "locations/destination.h"

using namespace enginetest;

namespace {

const char* kKeyPath = "Software\\UpdEngineTest";

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
// Lower case except the drive letter, which the respelling keeps as written.
std::string lower(std::string s) {
    for (size_t i = 1; i < s.size(); i++) s[i] = static_cast<char>(tolower(static_cast<unsigned char>(s[i])));
    return s;
}
std::string currentDir() {
    char c[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, c);
    return c;
}

class Destination : public ::testing::Test {
protected:
    ScratchFolder dir;
    std::string app;  // an existing folder spelled in mixed case
    void SetUp() override {
        ensureTextBuffers();
        state.registrySubKey = state.registryValue = nullptr;
        state.iniFile = state.iniSection = state.iniKey = nullptr;
        state.registryRoot = 1;
        state.destinationDir[0] = 0;
        app = dir / "Program Data\\MyApp";
        makeFolders(app);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
        state.registrySubKey = state.registryValue = nullptr;
        state.iniFile = state.iniSection = state.iniKey = nullptr;
    }
    void setRegistry(const char* value, const std::string& text) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, 0, 0, KEY_WRITE, 0, &key, 0),
                  ERROR_SUCCESS);
        RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
    }
    std::string dest() const { return state.destinationDir; }
};

}  // namespace

TEST_F(Destination, RegistryValueIsCutToTheExistingFolderAndRespelled) {
    setRegistry("InstallDir", lower(app) + "\\new\\deeper");
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryValue = const_cast<char*>("InstallDir");
    copyText(state.destinationDir, "C:\\ignored");
    expandDestination();
    EXPECT_EQ(dest(), app);  // stored case, no trailing backslash
    EXPECT_EQ(lower(currentDir()), lower(app));
}

TEST_F(Destination, RootIndexSevenReadsTheCurrentUser) {
    setRegistry(nullptr, lower(app));  // the key's default value
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryRoot = 7;
    expandDestination();
    EXPECT_EQ(dest(), app);
}

TEST_F(Destination, CutWorksCharacterByCharacter) {
    // "MyApp" exists, "MyAp" does not: "...\MyApp\Sub" passes "...\MyApp\" on
    // the way back, not "...\MyAp".
    makeFolders(dir / "Program Data\\MyAp_other");
    setRegistry("InstallDir", app + "\\S");
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryValue = const_cast<char*>("InstallDir");
    expandDestination();
    EXPECT_EQ(dest(), app);
}

TEST_F(Destination, MissingValueKeepsTheDefaultTextCutBack) {
    setRegistry("Other", "x");
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryValue = const_cast<char*>("InstallDir");
    copyText(state.destinationDir, (app + "\\not_yet").c_str());
    expandDestination();
    EXPECT_EQ(dest(), app);
}

TEST_F(Destination, NothingExistsLeavesItEmpty) {
    setRegistry("InstallDir", "R:\\no\\such\\drive");
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryValue = const_cast<char*>("InstallDir");
    expandDestination();
    EXPECT_EQ(dest(), "");
}

TEST_F(Destination, OverlongRegistryValueIsCutTo259) {
    setRegistry("InstallDir", app + "\\" + std::string(400, 'z'));
    state.registrySubKey = const_cast<char*>(kKeyPath);
    state.registryValue = const_cast<char*>("InstallDir");
    expandDestination();
    EXPECT_EQ(dest(), app);
}

TEST_F(Destination, UnreachableKeyFallsBackToTheMacro) {
    state.registrySubKey = const_cast<char*>("Software\\UpdEngineTest\\Nowhere");
    copyText(state.destinationDir, "#System#\\Sub");
    expandDestination();
    EXPECT_EQ(dest(), systemDir() + "\\Sub");  // no cut after a macro
}

TEST_F(Destination, IniEntryAndMissingIniEntry) {
    std::string ini = dir / "setup.ini";
    WritePrivateProfileStringA("Paths", "Home", (lower(app) + "\\bin").c_str(), ini.c_str());
    state.iniFile = const_cast<char*>(ini.c_str());
    state.iniSection = const_cast<char*>("Paths");
    state.iniKey = const_cast<char*>("Home");
    copyText(state.destinationDir, "C:\\default");
    expandDestination();
    EXPECT_EQ(dest(), app);

    state.iniKey = const_cast<char*>("Absent");
    copyText(state.destinationDir, (lower(app) + "\\later").c_str());
    expandDestination();
    EXPECT_EQ(dest(), app);
}

TEST_F(Destination, Macros) {
    copyText(state.destinationDir, "#windows#\\Fonts");
    expandDestination();
    EXPECT_EQ(dest(), windowsDir() + "\\Fonts");

    copyText(state.destinationDir, "#System#");
    expandDestination();
    EXPECT_EQ(dest(), systemDir() + "\\");

    char pf[MAX_PATH] = "";
    DWORD size = sizeof pf;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir", RRF_RT_REG_SZ, 0, pf, &size);
    ASSERT_NE(pf[0], 0);
    copyText(state.destinationDir, "#Program Files#App");
    expandDestination();
    EXPECT_EQ(dest(), std::string(pf) + "\\App");

    copyText(state.destinationDir, "#Windows");
    expandDestination();
    EXPECT_EQ(dest(), "#Windows");

    copyText(state.destinationDir, "#Foo#\\bar");
    expandDestination();
    EXPECT_EQ(dest(), "bar");

    copyText(state.destinationDir, "C:\\Plain\\Text");
    expandDestination();
    EXPECT_EQ(dest(), "C:\\Plain\\Text");
}

TEST_F(Destination, MacroExpansionIsCutTo259) {
    std::string text = "#Windows#\\" + std::string(300, 'q');
    copyText(state.destinationDir, text.c_str());
    expandDestination();
    EXPECT_EQ(dest().size(), 259u);
    EXPECT_EQ(dest().substr(0, windowsDir().size()), windowsDir());
}

// normalizePathCase respells what exists and leaves anything else alone.
TEST_F(Destination, NormalizePathCase) {
    char path[TEXT_CAPACITY];
    copyText(path, (lower(app) + "\\").c_str());
    normalizePathCase(path);
    EXPECT_EQ(std::string(path), app);

    std::string missing = lower(app) + "\\nothere";
    copyText(path, missing.c_str());
    normalizePathCase(path);
    EXPECT_EQ(std::string(path), missing);

    copyText(path, "c:\\");
    normalizePathCase(path);
    EXPECT_STREQ(path, "c:\\");

    // A short alias becomes the long name.
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(app.c_str(), shortName, MAX_PATH);
    if (std::string(shortName) != app) {
        copyText(path, shortName);
        normalizePathCase(path);
        EXPECT_EQ(std::string(path), app) << shortName;
    }
}
