// The proposed destination folder: a registry value or INI entry cut back to
// an existing folder and respelled as stored on disk, or a folder macro in
// the package's default text.
#include "engine_support.h"

#include "locations/destination.h"
#include "package/paths.h"

using namespace enginetest;

namespace {

const char* kKeyPath = "Software\\UpdEngineTest";

std::string folder(UINT (*get)(LPSTR, UINT)) {
    char w[MAX_PATH];
    get(w, MAX_PATH);
    return w;
}
// Lower case except the drive letter, which the respelling keeps as written.
std::string lower(std::string s) {
    for (size_t i = 1; i < s.size(); i++) s[i] = static_cast<char>(tolower(static_cast<unsigned char>(s[i])));
    return s;
}

class Destination : public ::testing::Test {
protected:
    ScratchFolder dir;
    std::string app = dir / "Program Data\\MyApp";  // exists, in mixed case
    void SetUp() override {
        ensureTextBuffers();
        state.registrySubKey = state.registryValue = nullptr;
        state.iniFile = state.iniSection = state.iniKey = nullptr;
        state.registryRoot = 1;
        makeFolders(app);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
        state.registrySubKey = state.registryValue = nullptr;
        state.iniFile = state.iniSection = state.iniKey = nullptr;
    }
    // Writes the value and names it as the package would.
    void useRegistry(const char* value, const std::string& text, uint32_t root = 1) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, 0, 0, KEY_WRITE, 0, &key, 0), 0);
        RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
        state.registrySubKey = const_cast<char*>(kKeyPath);
        state.registryValue = const_cast<char*>(value);
        state.registryRoot = root;
    }
    std::string expand(const std::string& defaultText) {
        copyText(state.destinationDir, defaultText.c_str());
        expandDestination();
        return state.destinationDir;
    }
};

}  // namespace

TEST_F(Destination, RegistryValueCutToAnExistingFolderAndRespelled) {
    useRegistry("InstallDir", lower(app) + "\\new\\deeper");
    EXPECT_EQ(expand("C:\\ignored"), app);  // stored case, no trailing backslash
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    EXPECT_EQ(lower(cwd), lower(app));

    useRegistry("InstallDir", app + "\\S");  // character by character: "...\MyApp\" exists
    EXPECT_EQ(expand(""), app);
    useRegistry("InstallDir", app + "\\" + std::string(400, 'z'));  // cut to 259 first
    EXPECT_EQ(expand(""), app);
    useRegistry("InstallDir", "Q:\\no\\such\\drive");  // R: is the tests' floppy drive
    EXPECT_EQ(expand(""), "");
    useRegistry(nullptr, lower(app), 7);  // the default value; root 7 reads HKCU
    EXPECT_EQ(expand(""), app);
    useRegistry("Other", "x");
    state.registryValue = const_cast<char*>("Absent");  // missing: the default text, cut back
    EXPECT_EQ(expand(app + "\\not_yet"), app);
}

TEST_F(Destination, UnreachableKeyFallsBackToTheMacro) {
    state.registrySubKey = const_cast<char*>("Software\\UpdEngineTest\\Nowhere");
    EXPECT_EQ(expand("#System#\\Sub"), folder(GetSystemDirectoryA) + "\\Sub");  // no cut
}

TEST_F(Destination, IniEntryOrItsDefault) {
    std::string ini = dir / "setup.ini";
    WritePrivateProfileStringA("Paths", "Home", (lower(app) + "\\bin").c_str(), ini.c_str());
    state.iniFile = const_cast<char*>(ini.c_str());
    state.iniSection = const_cast<char*>("Paths");
    state.iniKey = const_cast<char*>("Home");
    EXPECT_EQ(expand("C:\\default"), app);
    state.iniKey = const_cast<char*>("Absent");
    EXPECT_EQ(expand(lower(app) + "\\later"), app);
}

TEST_F(Destination, Macros) {
    char pf[MAX_PATH] = "";
    DWORD size = sizeof pf;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir", RRF_RT_REG_SZ, 0, pf, &size);
    ASSERT_NE(pf[0], 0);
    const std::string windowsDir = folder(GetWindowsDirectoryA);
    EXPECT_EQ(expand("#windows#\\Fonts"), windowsDir + "\\Fonts");
    EXPECT_EQ(expand("#System#"), folder(GetSystemDirectoryA) + "\\");
    EXPECT_EQ(expand("#Program Files#App"), std::string(pf) + "\\App");
    EXPECT_EQ(expand("#Windows"), "#Windows");
    EXPECT_EQ(expand("#Foo#\\bar"), "bar");
    EXPECT_EQ(expand("C:\\Plain\\Text"), "C:\\Plain\\Text");
    std::string cut = expand("#Windows#\\" + std::string(300, 'q'));
    EXPECT_EQ(cut.size(), 259u);
    EXPECT_EQ(cut.substr(0, windowsDir.size()), windowsDir);
}

// normalizePathCase respells what exists and leaves anything else alone.
TEST_F(Destination, NormalizePathCase) {
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(app.c_str(), shortName, MAX_PATH);
    const std::pair<std::string, std::string> cases[] = {
        {lower(app) + "\\", app},
        {lower(app) + "\\nothere", lower(app) + "\\nothere"},
        {"c:\\", "c:\\"},
        {lower(app).substr(0, lower(app).size() - 1) + "*", lower(app).substr(0, lower(app).size() - 1) + "*"},
        {shortName, app},  // a short alias becomes the long name
    };
    for (const auto& [in, out] : cases) {
        char path[TEXT_CAPACITY];
        copyText(path, in.c_str());
        normalizePathCase(path);
        EXPECT_EQ(std::string(path), out) << in;
    }
}
