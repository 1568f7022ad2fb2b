// No DLL planting: a version.dll lying beside the installer (a downloads
// folder), or beside its relaunch copy in the temporary folder, is never
// called, though Wine is told to prefer it over its own as Windows' search
// order would (planted.h); the installer's own use of VERSION.dll, loaded at
// run time from the system folder, still works beside it.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/libraries.h"
#include "pkg/stub.h"
#include "planted.h"
#include "run/run.h"
#include "wizard_support.h"

using namespace wiztest;
using winsupport::Planted;
using winsupport::TempDir;

namespace {

const std::vector<uint8_t> kOld = bytesOf("shared library, old build\r\n", 40);
const std::vector<uint8_t> kNew = bytesOf("shared library, new build\r\n", 45);

std::string systemDir() {
    char buf[MAX_PATH];
    GetSystemDirectoryA(buf, MAX_PATH);
    return buf;
}

std::string tempFolder() {
    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    return buf;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return s;
}

std::vector<uint8_t> readAll(const std::string& path) {
    pkg::Bytes b = pkg::readFile(path);
    return std::vector<uint8_t>(b.begin(), b.end());
}

// An update of one shared file, which the version API places in the system
// folder: only the system's VerFindFileA finds the old copy there.
struct SharedUpdate : ::testing::Test {
    TempDir dir;
    std::string name = "updshared" + std::to_string(GetCurrentProcessId()) + ".dll";
    std::string inSystem = systemDir() + "\\" + name;
    Package package;

    void SetUp() override {
        writeFile(inSystem, kOld);
        package.destination = dir.path("product");
        CreateDirectoryA(package.destination.c_str(), 0);
        package.oldSets.resize(1);
        package.oldSets[0]["lib\\" + name] = kOld;
        package.newSet["lib\\" + name] = kNew;
        package.rules["lib\\" + name].location = LOC_SHARED;
    }
    void TearDown() override { DeleteFileA(inSystem.c_str()); }

    // Through every page: the shared file is found, updated and listed.
    void install(wizard::Driver& run) {
        HWND page = run.waitPage("Page 0");
        run.press(IDOK);
        page = run.waitPage("Page 1", page);
        run.press(IDOK);
        page = run.waitPage("Page 2", page);
        run.press(IDOK);
        page = run.waitPage("Page 3", page);
        run.press(IDOK);
        HWND finish = run.waitPage("Page 5", page);
        EXPECT_EQ(run.listLines(finish, FILE_LIST), (std::vector<std::string>{inSystem + ": 6.25"}));
        run.press(IDCANCEL);
        DWORD code = 0xDEADBEEF;
        EXPECT_TRUE(run.waitExit(&code));
        EXPECT_EQ(code, DWORD(EXIT_DONE));
        EXPECT_EQ(readAll(inSystem), kNew) << "the shared copy in the system folder was updated";
    }
};

}  // namespace

// What the other tests rely on: as they set Wine up, a program that imports
// VERSION.dll statically (as the installer once did) calls the planted copy
// beside it, and the copy tells.
TEST(Planting, AProgramThatImportsVersionStaticallyCallsThePlantedDll) {
    TempDir dir;
    Planted planted;
    ASSERT_TRUE(planted.plant(dir.dir()));
    EXPECT_EQ(Planted::calledBy(dir.dir()), "");
    EXPECT_EQ(Planted::runImporterIn(dir.dir()), 1u) << "the planted GetFileVersionInfoSizeA answered";
    EXPECT_NE(Planted::calledBy(dir.dir()).find("version_importer.exe"), std::string::npos);
}

TEST(Planting, VersionFunctionsComeFromTheSystemFolder) {
    const VersionApi* api = versionApi();
    ASSERT_TRUE(api);
    HMODULE module = 0;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(api->verFindFile), &module));
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, MAX_PATH);
    EXPECT_EQ(lower(path), lower(systemDir() + "\\version.dll"));
    EXPECT_EQ(versionApi(), api) << "loaded once";
}

// The installer started beside a planted version.dll: its shared-file lookup
// (VerFindFileA) finds the shared file in the system folder and updates it
// there, and nothing calls the planted copy.
TEST_F(SharedUpdate, InstallerBesideAPlantedVersionDll) {
    std::string installer = package.write(dir);
    Planted planted;
    ASSERT_TRUE(planted.plant(dir.dir()));
    {
        WizardRun run(installer, testName());
        install(run);
    }
    EXPECT_EQ(Planted::calledBy(dir.dir()), "");
}

// The same from a removable drive: the copy in the temporary folder installs,
// with planted copies beside it and beside the package on the disk.
TEST_F(SharedUpdate, RelaunchCopyBesidePlantedVersionDlls) {
    if (GetDriveTypeA("R:\\") != DRIVE_REMOVABLE) GTEST_FAIL() << "drive R: is not set up as removable";
    for (int i = 0; i < 4; i++) DeleteFileA((tempFolder() + "_upd" + std::to_string(i) + ".exe").c_str());
    std::string built = package.write(dir);
    ASSERT_TRUE(CopyFileA(built.c_str(), "R:\\setup.exe", FALSE));
    Planted planted;
    ASSERT_TRUE(planted.plant("R:\\"));
    ASSERT_TRUE(planted.plant(tempFolder()));

    EXPECT_EQ(winsupport::runProgram("R:\\setup.exe", ""), 0u) << "the first process hands over and ends";
    DWORD pid = 0;
    for (int i = 0; i < 300 && !pid; i++) {
        HWND w = FindWindowA("UpdShClass", 0);
        if (w && IsWindowVisible(w))
            GetWindowThreadProcessId(w, &pid);
        else
            Sleep(100);
    }
    ASSERT_NE(pid, 0u) << "the copy's wizard appeared";
    {
        wizard::Driver copy(pid, 20000);
        install(copy);
    }
    EXPECT_EQ(Planted::calledBy("R:\\"), "");
    EXPECT_EQ(Planted::calledBy(tempFolder()), "");
    DeleteFileA("R:\\setup.exe");
    for (int i = 0; i < 4; i++) DeleteFileA((tempFolder() + "_upd" + std::to_string(i) + ".exe").c_str());
}
