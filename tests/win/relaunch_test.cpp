// Starting from a removable disk: the installer must hand over to a copy of
// its stub in the temporary folder (so the disk can be changed), the copy must
// read the package on the disk and arrange its own deletion, and nothing of
// this may happen from a fixed drive or in the copy itself.
#include <gtest/gtest.h>

#include "package/binding.h"
#include "package/format.h"
#include "pkg/stub.h"
#include "run/run.h"
#include "support.h"

using namespace pkg;
using namespace winsupport;

namespace {

// build.sh maps R: to a folder and declares it a floppy drive.
const char* const DRIVE = "R:\\";

std::string tempFolder() {
    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    return buf;
}

void removeCopies() {
    for (int i = 0; i < 4; i++) DeleteFileA((tempFolder() + "_upd" + std::to_string(i) + ".exe").c_str());
}

DWORD fileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0xFFFFFFFF;
    return data.nFileSizeLow;
}

std::string pendingRenames() {
    HKEY key;
    std::string all;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key))
        return all;
    char buf[16384];
    DWORD size = sizeof buf, type;
    if (!RegQueryValueExA(key, "PendingFileRenameOperations", 0, &type, reinterpret_cast<BYTE*>(buf), &size))
        for (DWORD i = 0; i < size; i++) all += buf[i] ? buf[i] : '|';
    RegCloseKey(key);
    return all;
}

// An installer whose wizard stays open on its first page until cancelled.
Bytes stayingInstaller(const std::string& caption) {
    Bytes frame = dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 100, "",
                                 {{"BUTTON", "Cancel", IDCANCEL, BS_PUSHBUTTON, 150, 80, 40, 14}});
    Bytes page = dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 70, "", {});
    std::vector<std::vector<std::string>> tables(8);
    tables[6] = {caption};
    return buildInstaller(realStub(),
                          {stringTablesRecord(tables), bufferRecord(REC_TEMPLATES, templateBlob({frame, frame, page, page, page, page, page})),
                           startPageRecord(0)},
                          {});
}

// Waits for the installer window with this caption and closes its wizard.
bool closeWizard(const std::string& caption, DWORD* pid) {
    HWND background = 0;
    for (int i = 0; i < 300 && !(background && IsWindowVisible(background)); i++) {
        Sleep(100);
        background = FindWindowA("UpdShClass", caption.c_str());
    }
    if (!background) return false;
    GetWindowThreadProcessId(background, pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, *pid);
    PostMessageA(FindWindowExA(background, 0, 0, 0), WM_COMMAND, IDCANCEL, 0);
    bool ended = waitPumping(process, 30000);
    CloseHandle(process);
    return ended;
}

// Signs the installer with a new throw-away certificate: openssl and
// osslsigncode, started through Wine as Unix programs in a folder under
// /tmp. Wine does not wait for a Unix program's end, so the signed file is
// written under another name and renamed; its arrival is what counts (the
// wait is a guard against a hang, not a measure of speed).
Bytes signWithOsslsigncode(const Bytes& installer) {
    std::string unixDir = "/tmp/updsign" + std::to_string(GetCurrentProcessId());
    std::string dir = "Z:" + unixDir;
    for (char& c : dir)
        if (c == '/') c = '\\';
    CreateDirectoryA(dir.c_str(), 0);
    std::string in = dir + "\\unsigned.exe", out = dir + "\\signed.exe";
    DeleteFileA(out.c_str());
    HANDLE h = CreateFileA(in.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written = 0;
    WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
    CloseHandle(h);
    std::string script = "cd " + unixDir +
                         " && openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -days 2"
                         " -keyout key.pem -out cert.pem"
                         " && osslsigncode sign -certs cert.pem -key key.pem -n Test"
                         " -in unsigned.exe -out signed.part && mv signed.part signed.exe";
    std::string line = "/bin/sh -c \"" + script + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    Bytes result;
    if (CreateProcessA(0, &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        for (int i = 0; i < 1200 && GetFileAttributesA(out.c_str()) == INVALID_FILE_ATTRIBUTES; i++) Sleep(100);
        if (GetFileAttributesA(out.c_str()) != INVALID_FILE_ATTRIBUTES) result = readFile(out);
    }
    for (const char* name : {"unsigned.exe", "signed.exe", "signed.part", "key.pem", "cert.pem"})
        DeleteFileA((dir + "\\" + name).c_str());
    RemoveDirectoryA(dir.c_str());
    return result;
}

void writeInstaller(const Bytes& installer) {
    HANDLE h = CreateFileA("R:\\setup.exe", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written;
    WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
    CloseHandle(h);
}

uint32_t get32(const Bytes& b, uint32_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class Relaunch : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetDriveTypeA(DRIVE) != DRIVE_REMOVABLE) GTEST_FAIL() << "drive R: is not set up as removable";
        removeCopies();
    }
    void TearDown() override {
        removeCopies();
        DeleteFileA("R:\\setup.exe");
    }
};

TEST_F(Relaunch, FromARemovableDriveACopyOfTheStubRunsThePackage) {
    Bytes installer = stayingInstaller("Floppy Update");
    std::string path = "R:\\setup.exe";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written;
    WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
    CloseHandle(h);

    EXPECT_EQ(runProgram(path, ""), 0u) << "the first process hands over and ends";
    DWORD pid = 0;
    ASSERT_TRUE(closeWizard("Floppy Update", &pid)) << "the copy found the package through /S";
    std::string copy = tempFolder() + "_upd0.exe";
    EXPECT_EQ(fileSizeOf(copy), STUB_SIZE) << "exactly the stub was copied";
    EXPECT_NE(pendingRenames().find("_upd0.exe"), std::string::npos)
        << "the copy (started with /DEL) arranged its deletion";

    // _upd0.exe is taken now: the next copy is _upd1.exe.
    EXPECT_EQ(runProgram(path, ""), 0u);
    ASSERT_TRUE(closeWizard("Floppy Update", &pid));
    EXPECT_EQ(fileSizeOf(tempFolder() + "_upd1.exe"), STUB_SIZE);
}

// The copy of a signed installer's stub has no certificate table behind it:
// its certificate-table entry is zero, nothing else differs, its binding key
// is the same, and it loads the signed package on the disk.
TEST_F(Relaunch, TheCopyOfASignedInstallerDropsItsCertificateEntry) {
    Bytes signedInstaller = signWithOsslsigncode(stayingInstaller("Signed Floppy"));
    ASSERT_GT(signedInstaller.size(), 0u) << "osslsigncode gave no signed installer";
    Bytes signedStub(signedInstaller.begin(), signedInstaller.begin() + STUB_SIZE);
    uint32_t entry = certificateEntryOffset(signedStub.data(), STUB_SIZE);
    ASSERT_NE(entry, 0u);
    ASSERT_NE(get32(signedStub, entry + 4), 0u) << "the signature declares its table";
    writeInstaller(signedInstaller);

    EXPECT_EQ(runProgram("R:\\setup.exe", ""), 0u);
    DWORD pid = 0;
    ASSERT_TRUE(closeWizard("Signed Floppy", &pid)) << "the copy loaded the signed package";
    Bytes copy = readFile(tempFolder() + "_upd0.exe");
    ASSERT_EQ(copy.size(), STUB_SIZE);
    EXPECT_EQ(get32(copy, entry), 0u);
    EXPECT_EQ(get32(copy, entry + 4), 0u);
    for (uint32_t i = entry; i < entry + 8; i++) copy[i] = signedStub[i];
    EXPECT_TRUE(copy == signedStub) << "only the entry differs";
    EXPECT_EQ(computeBinding(readFile(tempFolder() + "_upd0.exe").data(), STUB_SIZE).key,
              computeBinding(signedStub.data(), STUB_SIZE).key);
}

TEST_F(Relaunch, TheCopyNeverRelaunchesItself) {
    Bytes installer = stayingInstaller("Copy Itself");
    HANDLE h = CreateFileA("R:\\setup.exe", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written;
    WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
    CloseHandle(h);
    std::string line = "\"R:\\setup.exe\" /DEL";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA("R:\\setup.exe", &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi));
    DWORD pid = 0;
    ASSERT_TRUE(closeWizard("Copy Itself", &pid));
    EXPECT_EQ(pid, pi.dwProcessId) << "the started process ran the wizard itself";
    EXPECT_EQ(fileSizeOf(tempFolder() + "_upd0.exe"), 0xFFFFFFFF) << "no copy was made";
    EXPECT_EQ(pendingRenames().find("setup.exe"), std::string::npos) << "nor is the file on the disk deleted";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

TEST_F(Relaunch, FromAFixedDriveNoCopyIsMade) {
    TempDir temp;
    std::string path = temp.write("setup.exe", buildInstaller(realStub(), {startPageRecord(6)}, {}));
    EXPECT_EQ(runProgram(path, ""), 0u);
    EXPECT_EQ(fileSizeOf(tempFolder() + "_upd0.exe"), 0xFFFFFFFF);
}

// /DEL marks a relaunched copy, but only a copy the installer makes (a
// "_upd<n>.exe" in the temporary folder) is deleted at the next restart:
// any other file started with /DEL, or /DELAY, stays.
TEST(SelfDeletion, OnlyTheTemporaryCopyIsScheduled) {
    std::string temp = tempFolder();
    for (const char* name : {"_upd12.exe", "_UPD5.EXE", "_upd0.exe"})
        EXPECT_TRUE(isRelaunchCopy((temp + name).c_str())) << name;
    for (const char* name : {"_upd.exe", "_upd1234.exe", "_updx.exe", "_upd1.exe.bak", "setup.exe", "sub\\_upd1.exe"})
        EXPECT_FALSE(isRelaunchCopy((temp + name).c_str())) << name;
    EXPECT_FALSE(isRelaunchCopy("C:\\_upd1.exe"));

    auto count = [](const std::string& text, const std::string& name) {
        size_t n = 0;
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) n++;
        return n;
    };
    TempDir elsewhere;
    Bytes installer = buildInstaller(realStub(), {startPageRecord(6)}, {});
    std::string stamp = std::to_string(GetTickCount() % 1000);
    struct Run {
        std::string path, args;
        bool deleted;
    } runs[] = {
        {temp + "_upd" + stamp + ".exe", "/DEL", true},
        {temp + "planted" + stamp + ".exe", "/DEL", false},
        {elsewhere.path("setup" + stamp + ".exe"), "/DEL", false},
        {temp + "_upd" + std::to_string((GetTickCount() + 500) % 1000) + ".exe", "/DELAY", true},
    };
    for (const Run& r : runs) {
        HANDLE h = CreateFileA(r.path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
        DWORD written;
        WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
        CloseHandle(h);
        std::string name = r.path.substr(r.path.find_last_of('\\') + 1);
        size_t before = count(pendingRenames(), name);
        EXPECT_EQ(runProgram(r.path, r.args), 0u) << r.path;
        EXPECT_EQ(count(pendingRenames(), name), before + (r.deleted ? 1 : 0)) << r.path << " " << r.args;
        DeleteFileA(r.path.c_str());
    }
}

// The WININIT.INI way of the older platform family, on real files.
TEST(Wininit, MatchingLineBecomesNulAndTheRestStays) {
    TempDir temp;
    std::string ini = temp.path("WININIT.INI");
    std::string before = "[boot]\r\nshell=x\r\n[Rename]\r\nNUL=C:\\TEMP\\_UPD0.EXE\r\nNUL=C:\\OLD.TMP\r\n";
    temp.write("WININIT.INI", Bytes(before.begin(), before.end()));
    EXPECT_TRUE(patchWininit(ini.c_str(), "C:\\TEMP\\_UPD3.EXE"));
    char value[MAX_PATH];
    GetPrivateProfileStringA("Rename", "NUL", "", value, MAX_PATH, ini.c_str());
    HANDLE h = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    char text[1024] = {};
    DWORD got;
    ReadFile(h, text, sizeof text - 1, &got, 0);
    CloseHandle(h);
    std::string after = text;
    EXPECT_NE(after.find("NUL=C:\\TEMP\\_UPD3.EXE"), std::string::npos) << after;
    EXPECT_NE(after.find("NUL=C:\\TEMP\\_UPD0.EXE"), std::string::npos) << "an earlier line for another path stays";
    EXPECT_NE(after.find("shell=x"), std::string::npos);
    EXPECT_NE(after.find("NUL=C:\\OLD.TMP"), std::string::npos);
    EXPECT_EQ(after.find("xyz=C:\\TEMP"), std::string::npos);
}

TEST(Wininit, TinyFilesAreLeftAlone) {
    // A file of 0-4 bytes holds no line to patch; the scan must not run
    // below its start, and the file stays as it was.
    TempDir temp;
    for (int n = 0; n <= 4; n++) {
        std::string name = "tiny" + std::to_string(n) + ".ini";
        Bytes content(n, 'x');
        if (n == 4) content = {'x', 'y', 'z', '='};
        std::string ini = temp.write(name, content);
        EXPECT_FALSE(patchRenameLine(ini.c_str(), "")) << n;
        EXPECT_EQ(fileSizeOf(ini), static_cast<DWORD>(n));
    }
}

}  // namespace
