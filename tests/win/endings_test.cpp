// How the installer ends when it cannot show its wizard, when Windows asks
// it to close (WM_CLOSE: End task, taskkill), and when its package is
// crafted to make it ask for gigabytes: always a clear message or none, an
// exit code that says what happened, and never a process left waiting.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "pkg/stub.h"
#include "run/run.h"
#include "wizard_support.h"

using namespace pkg;
using namespace wiztest;
using winsupport::TempDir;

namespace {

const std::vector<uint8_t> kOld = bytesOf("old content of a product file\r\n", 40);
const std::vector<uint8_t> kNew = bytesOf("new content of the product file\r\n", 50);

DWORD waitCode(wizard::Driver& run) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(run.waitExit(&code, 60000)) << "the installer did not end";
    return code;
}

// The default layouts with template `number` cut to its first `keep` bytes
// (the cut template last, so that it runs past the end of the blob).
Bytes blobWithDamagedTemplate(unsigned number, size_t keep) {
    Bytes blob = defaultTemplateBlob();
    uint32_t at;
    std::memcpy(&at, blob.data() + 4 * number, 4);
    Bytes damaged(blob.begin() + at, blob.begin() + at + keep);
    uint32_t end = static_cast<uint32_t>(blob.size());
    std::memcpy(blob.data() + 4 * number, &end, 4);
    blob.insert(blob.end(), damaged.begin(), damaged.end());
    return blob;
}

std::string installerWith(const TempDir& dir, const std::vector<Record>& records) {
    return dir.write("setup.exe", buildInstaller(winsupport::realStub(), records, {}));
}

// A product with one file to update, for the runs that go all the way.
struct Product {
    TempDir dir;
    std::string folder = dir.path("product");
    Package package;
    Product() {
        CreateDirectoryA(folder.c_str(), 0);
        wiztest::writeFile(folder + "\\a.txt", kOld);
        package.destination = folder;
        package.oldSets.resize(1);
        package.oldSets[0]["a.txt"] = kOld;
        package.newSet["a.txt"] = kNew;
    }
};

void postClose(HWND window) { ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0)); }

}  // namespace

// Without the frame's template (or with one that does not fit its copy, or
// one the platform cannot build), the wizard cannot be shown: the package's
// message for a damaged installer, or a built-in one, and exit code 2.
TEST(Endings, NoFrameMeansAMessageAndExitCodeTwo) {
    TempDir dir;
    Bytes frameless = blobWithDamagedTemplate(0, 30);
    struct Case {
        const char* what;
        std::vector<Record> records;
        const char* message;
    } cases[] = {
        {"no templates", {stringTablesRecord(labelledTexts())}, "6.33"},
        {"no templates, no texts", {}, "cannot show its wizard"},
        {"frame cut short", {stringTablesRecord(labelledTexts()), bufferRecord(REC_TEMPLATES, frameless)}, "6.33"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wizard::Driver run(installerWith(dir, c.records));
        run.answer(c.message, IDOK);
        EXPECT_EQ(waitCode(run), DWORD(EXIT_NO_WIZARD));
    }

    // A frame whose template walks but holds a control of no known class:
    // the platform refuses to build it.
    std::vector<Bytes> templates;
    Bytes strange = winsupport::dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 100, "",
                                               {{"NoSuchClass", "x", 1, 0, 0, 0, 10, 10}});
    Bytes plain = winsupport::dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 100, "", {});
    for (int n = 0; n < 7; n++) templates.push_back(n < 2 ? strange : plain);
    wizard::Driver run(installerWith(dir, {stringTablesRecord(labelledTexts()),
                                            bufferRecord(REC_TEMPLATES, winsupport::templateBlob(templates))}));
    run.answer("6.33", IDOK);
    EXPECT_EQ(waitCode(run), DWORD(EXIT_NO_WIZARD));
}

// A page whose template is missing or damaged stops the wizard there with
// exit code 3: Next never passes over the destination page, so nothing is
// verified or installed.
TEST(Endings, AMissingPageStopsTheWizardBeforeItsPlace) {
    Product product;
    Bytes stub = winsupport::realStub();
    FileTableBuilder table(stubBindingKey(stub));
    table.add(updateEntry("a.txt", kOld, kNew));
    std::vector<Record> records = {bufferRecord(REC_TEMPLATES, blobWithDamagedTemplate(2, 40)),  // the destination page
                                   stringTablesRecord(labelledTexts()), textRecord(REC_DEST_DIR, product.folder),
                                   bufferRecord(REC_FILE_TABLE, table.bytes())};
    WizardRun run(product.dir.write("setup.exe", buildInstaller(stub, records, {})), testName());
    HWND welcome = run.page("Page 0");
    run.press(IDOK);
    run.page("Page 1", welcome);
    run.press(IDOK);
    run.answer("6.33", IDOK);
    EXPECT_EQ(waitCode(run), DWORD(EXIT_PAGE_MISSING));
    EXPECT_EQ(pkg::readFile(product.folder + "\\a.txt"), Bytes(kOld.begin(), kOld.end()));
}

// WM_CLOSE outside an installation ends the wizard at once on every page,
// without the cancel question, also while a message box is open.
TEST(Endings, CloseEndsTheWizardOnEveryPage) {
    Product product;
    std::string installer = product.package.write(product.dir);
    for (int stop = 0; stop <= 3; stop++) {
        SCOPED_TRACE("page " + std::to_string(stop));
        wiztest::writeFile(product.folder + "\\a.txt", kOld);
        WizardRun run(installer, testName());
        HWND page = run.page("Page 0");
        for (int p = 1; p <= stop; p++) {
            run.press(IDOK);
            page = run.page("Page " + std::to_string(p), page);
        }
        postClose(run.background());
        EXPECT_EQ(waitCode(run), DWORD(EXIT_DONE));
        EXPECT_FALSE(run.dialogShown("6.16"));
    }
    {
        SCOPED_TRACE("finish page");
        wiztest::writeFile(product.folder + "\\a.txt", kOld);
        WizardRun run(installer, testName());
        HWND page = run.page("Page 0");
        for (int p = 1; p <= 3; p++) {
            run.press(IDOK);
            page = run.page("Page " + std::to_string(p), page);
        }
        run.press(IDOK);
        run.page("Page 5", page);
        postClose(run.frame());  // the frame hears it as well
        EXPECT_EQ(waitCode(run), DWORD(EXIT_DONE));
        EXPECT_EQ(pkg::readFile(product.folder + "\\a.txt"), Bytes(kNew.begin(), kNew.end()));
    }
    {
        SCOPED_TRACE("cancel question open");
        WizardRun run(installer, testName());
        run.page("Page 0");
        PostMessageA(run.frame(), WM_COMMAND, IDCANCEL, 0);
        run.waitDialog("6.16");
        postClose(run.background());
        EXPECT_EQ(waitCode(run), DWORD(EXIT_DONE));
    }
    {
        SCOPED_TRACE("full screen, verification message open");
        product.package.fullScreen = true;
        wiztest::writeFile(product.folder + "\\a.txt", bytesOf("a stranger\r\n", 3));
        WizardRun run(product.package.write(product.dir, "full.exe"), testName());
        HWND page = run.page("Page 0");
        run.press(IDOK);
        page = run.page("Page 1", page);
        run.press(IDOK);
        run.page("Page 2", page);
        run.press(IDOK);
        run.waitDialog("6.8");
        postClose(run.frame());
        EXPECT_EQ(waitCode(run), DWORD(EXIT_DONE));
        product.package.fullScreen = false;
    }
}

// While an installation runs, WM_CLOSE presses Cancel: the progress page
// asks first, and No goes on. The run is held on a disk prompt (the volume
// file is missing and /DEL asks for disks), so the question comes while the
// installation certainly runs.
TEST(Endings, CloseDuringAnInstallationAsksFirst) {
    Product product;
    Bytes big(200000);
    std::mt19937 random(7);
    for (auto& b : big) b = static_cast<uint8_t>(random());
    product.package.newSet["big.bin"] = big;
    UpdateOptions options;
    options.records = {bufferRecord(REC_TEMPLATES, defaultTemplateBlob()), stringTablesRecord(labelledTexts()),
                       textRecord(REC_DEST_DIR, product.folder)};
    options.volumeSize = 150000;
    BuiltUpdate update = buildUpdateFromSets(product.package.oldSets, product.package.newSet,
                                             winsupport::realStub(), options);
    ASSERT_FALSE(update.volumes.empty());
    std::string installer = product.dir.write("setup.exe", update.installer);  // no setup.D01 beside it

    wizard::Driver run(installer, "/DEL");
    HWND page = run.waitPage("Page 0");
    for (int p = 1; p <= 3; p++) {
        run.press(IDOK);
        page = run.waitPage("Page " + std::to_string(p), page);
    }
    run.press(IDOK);
    run.waitPage("Page 4", page);
    run.waitDialog("6.32", 30000);
    postClose(run.background());
    run.answer("6.15", IDNO);
    EXPECT_TRUE(run.running()) << "No: the installation goes on";
    run.answer("6.32", IDCANCEL);
    run.answer("6.15", IDYES);
    run.answer("6.17", IDOK);
    run.waitPage("Page 5");
    postClose(run.background());
    EXPECT_EQ(waitCode(run), DWORD(EXIT_DONE));
}

// The installer of 64 KiB whose string-table record declares eight tables of
// almost 2 GiB each: the stub refuses it without asking for that memory.
TEST(Endings, HostileSizesAreRefusedWithoutTheMemory) {
    Record tables;
    tables.tag = REC_STRING_TABLES;
    put16(tables.payload, 8);
    for (int i = 0; i < 8; i++) {
        put32(tables.payload, 0x7FFFFFF0u);
        tables.payload.push_back(0x0D);
        tables.payload.push_back(0x00);
    }
    TempDir dir;
    std::string path = installerWith(dir, {tables});
    std::string line = "\"" + path + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(path.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, DWORD(EXIT_NOT_LOADED));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters) && counters.PeakPagefileUsage) {
        std::printf("[   INFO   ] hostile installer: peak working set %lu KiB, peak committed %lu KiB\n",
                    static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024),
                    static_cast<unsigned long>(counters.PeakPagefileUsage / 1024));
        EXPECT_LT(counters.PeakPagefileUsage, SIZE_T(64) << 20);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
