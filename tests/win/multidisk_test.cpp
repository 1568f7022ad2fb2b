// An update on several disks, as a user runs it from a floppy: the installer
// hands over to its copy in the temporary folder, the copy installs from the
// package on the drive, asks for the next disk when its volume file is not
// there, and goes on when it appears, or ends the wizard when the user gives
// up. Drive R: is the tests' floppy (build.sh sets it up).
#include <gtest/gtest.h>

#include <random>

#include "pkg/stub.h"
#include "run/run.h"
#include "pkg/writer.h"
#include "wizard_support.h"

using namespace pkg;
using namespace wiztest;

namespace {

const int PAGE_FINISH_LIST = 1013;

std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void writeTo(const std::string& path, const Bytes& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, 0);
    CloseHandle(h);
}

std::string tempFolder() {
    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    return buf;
}

// Two files whose new versions share nothing with the old ones: their data
// fills the installer and two volume files.
struct MultiDisk : ::testing::Test {
    // The tests whose names say so build an all-or-nothing update.
    static bool allOrNothing() {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find("AllOrNothing") !=
               std::string::npos;
    }
    winsupport::TempDir dir;
    std::string folder = dir.path("product");
    std::vector<uint8_t> oldA = randomBytes(90000, 1), oldB = randomBytes(90000, 2);
    std::vector<uint8_t> newA = randomBytes(120000, 3), newB = randomBytes(120000, 4);
    std::vector<Bytes> volumes;

    void SetUp() override {
        if (GetDriveTypeA("R:\\") != DRIVE_REMOVABLE) GTEST_FAIL() << "drive R: is not set up as removable";
        for (int i = 0; i < 4; i++) DeleteFileA((tempFolder() + "_upd" + std::to_string(i) + ".exe").c_str());
        CreateDirectoryA(folder.c_str(), 0);
        wiztest::writeFile(folder + "\\a.bin", oldA);
        wiztest::writeFile(folder + "\\b.bin", oldB);
        Package p;
        p.destination = folder;
        UpdateOptions options;
        options.records = {bufferRecord(REC_TEMPLATES, defaultTemplateBlob()),
                           valueRecord(REC_OPTIONS, allOrNothing() ? OPT_ALL_OR_NOTHING : 0),
                           stringTablesRecord(p.texts), textRecord(REC_DEST_DIR, folder)};
        options.volumeSize = 140000;
        FileSet oldSet = {{"a.bin", Bytes(oldA.begin(), oldA.end())}, {"b.bin", Bytes(oldB.begin(), oldB.end())}};
        FileSet newSet = {{"a.bin", Bytes(newA.begin(), newA.end())}, {"b.bin", Bytes(newB.begin(), newB.end())}};
        BuiltUpdate update = buildUpdateFromSets({oldSet}, newSet, winsupport::realStub(), options);
        ASSERT_GE(update.volumes.size(), 2u) << "the data must reach a third disk";
        writeTo("R:\\setup.exe", update.installer);
        writeTo("R:\\setup.D01", update.volumes[0]);
        volumes = update.volumes;  // .D02 on stays off the drive for now
    }
    void TearDown() override {
        DeleteFileA("R:\\setup.exe");
        for (size_t k = 1; k <= volumes.size(); k++) DeleteFileA(pkg::volumePath("R:\\setup.exe", k).c_str());
        for (int i = 0; i < 4; i++) DeleteFileA((tempFolder() + "_upd" + std::to_string(i) + ".exe").c_str());
    }

    // Starts the installer from the floppy and takes over the copy it hands over to.
    DWORD startFromFloppy() {
        EXPECT_EQ(winsupport::runProgram("R:\\setup.exe", ""), 0u) << "the first process hands over and ends";
        for (int i = 0; i < 300; i++) {
            HWND w = FindWindowA("UpdShClass", 0);
            if (w && IsWindowVisible(w)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                return pid;
            }
            Sleep(100);
        }
        return 0;
    }

    // Welcome to progress, with the package's default folder.
    HWND toProgress(wizard::Driver& run) {
        HWND page = run.waitPage("Page 0");
        run.press(IDOK);
        page = run.waitPage("Page 1", page);
        run.press(IDOK);
        page = run.waitPage("Page 2", page);
        run.press(IDOK);
        page = run.waitPage("Page 3", page);
        run.press(IDOK);
        return page;
    }
};

TEST_F(MultiDisk, CopyAsksForTheNextDiskAndGoesOnWhenItIsThere) {
    DWORD pid = startFromFloppy();
    ASSERT_NE(pid, 0u) << "the copy's wizard appeared";
    DWORD size = 0;
    HANDLE copy = CreateFileA((tempFolder() + "_upd0.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    size = GetFileSize(copy, 0);
    CloseHandle(copy);
    EXPECT_EQ(size, STUB_SIZE) << "exactly the stub was copied";

    wizard::Driver run(pid, 20000);
    HWND ready = toProgress(run);
    HWND prompt = run.waitDialog("6.32", 30000);
    ASSERT_TRUE(prompt) << "the copy asks for the disk that holds the missing volume";
    for (size_t k = 1; k < volumes.size(); k++) writeTo(pkg::volumePath("R:\\setup.exe", k + 1), volumes[k]);
    run.answer("6.32", IDOK);
    HWND finish = run.waitPage("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "5.1");
    EXPECT_EQ(run.listLines(finish, PAGE_FINISH_LIST), (std::vector<std::string>{"a.bin: 6.25", "b.bin: 6.25"}));
    run.press(IDCANCEL);
    DWORD code = 1;
    ASSERT_TRUE(run.waitExit(&code));
    EXPECT_EQ(code, DWORD(EXIT_DONE));
    EXPECT_EQ(pkg::readFile(folder + "\\a.bin"), Bytes(newA.begin(), newA.end()));
    EXPECT_EQ(pkg::readFile(folder + "\\b.bin"), Bytes(newB.begin(), newB.end()));
}

TEST_F(MultiDisk, GivingUpOnTheNextDiskEndsTheInstallation) {
    DWORD pid = startFromFloppy();
    ASSERT_NE(pid, 0u);
    wizard::Driver run(pid, 20000);
    HWND ready = toProgress(run);
    ASSERT_TRUE(run.waitDialog("6.32", 30000));
    run.answer("6.32", IDCANCEL);
    run.answer("6.15", IDNO);  // not yet: asked again
    ASSERT_TRUE(run.waitDialog("6.32", 10000));
    run.answer("6.32", IDCANCEL);
    run.answer("6.15", IDYES);
    run.answer("6.17", IDOK);
    // The run ends as cancelled: the result page says (6, 17) alone.
    HWND finish = run.waitPage("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "6.17");
    run.press(IDCANCEL);
    DWORD code = 1;
    ASSERT_TRUE(run.waitExit(&code)) << "the wizard ended";
    EXPECT_EQ(code, DWORD(EXIT_DONE));
    EXPECT_EQ(pkg::readFile(folder + "\\b.bin"), Bytes(oldB.begin(), oldB.end())) << "the file whose data was lost stays old";
}

// All or nothing: a.bin, whose data was on the disks at hand, was built but
// stays old with b.bin, and the finish page says that nothing was changed.
TEST_F(MultiDisk, GivingUpOnTheNextDiskOfAnAllOrNothingRunChangesNothing) {
    DWORD pid = startFromFloppy();
    ASSERT_NE(pid, 0u);
    wizard::Driver run(pid, 20000);
    HWND ready = toProgress(run);
    ASSERT_TRUE(run.waitDialog("6.32", 30000));
    run.answer("6.32", IDCANCEL);
    run.answer("6.38", IDYES);
    run.answer("6.17", IDOK);
    HWND finish = run.waitPage("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "6.37 [6.17]");
    run.press(IDCANCEL);
    DWORD code = 1;
    ASSERT_TRUE(run.waitExit(&code));
    EXPECT_EQ(code, DWORD(EXIT_DONE));
    EXPECT_EQ(pkg::readFile(folder + "\\a.bin"), Bytes(oldA.begin(), oldA.end()));
    EXPECT_EQ(pkg::readFile(folder + "\\b.bin"), Bytes(oldB.begin(), oldB.end()));
    for (const char* temp : {"\\a.$$A", "\\b.$$A", "\\~update.$$J"})
        EXPECT_EQ(GetFileAttributesA((folder + temp).c_str()), INVALID_FILE_ATTRIBUTES) << temp;
}

}  // namespace
