// The loader through the Win32 file operations: the same walk as natively,
// on real Windows files.
#include <gtest/gtest.h>

#include "package/format.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "base/state.h"
#include "support.h"

using namespace pkg;
using namespace winsupport;

namespace {

class LoaderWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        state = InstallerState();
        state.dataFile = INVALID_FILE;
        stubData.header.stubSize = STUB_SIZE;
        stubData.header.startPage = START_PAGE_WIZARD;
        ASSERT_TRUE(allocateTextBuffers());
    }
    void TearDown() override {
        releasePackageData();
        releaseSessionBuffers();
    }
    TempDir temp;
};

TEST_F(LoaderWin32, LoadsAnInstallerBuiltOnTheRealStub) {
    std::vector<std::vector<std::string>> tables(8);
    tables[6] = {"Caption"};
    Bytes file = buildInstaller(realStub(), {stringTablesRecord(tables), startPageRecord(6)}, Bytes(64, 7));
    copyText(state.sourcePath, temp.write("setup.exe", file).c_str());
    ASSERT_EQ(loadPackage(), LOAD_OK);
    EXPECT_STREQ(getString(6, 0), "Caption");
    EXPECT_EQ(stubData.header.startPage, 6);
}

// A record whose end lies between 2 and 4 GiB: SetFilePointer takes a signed
// distance, so the seek would fail and the walk would read on inside the
// record's own payload, here a start-page record that makes it complete.
// The loader refuses it before it seeks, as it does natively.
TEST_F(LoaderWin32, ARecordEndingBeyondTheFileIsRefused) {
    Bytes file = realStub();
    put16(file, 0x7000);
    put16(file, 0);
    put32(file, 0x90000000u);
    Bytes rest = buildInstaller(realStub(), {startPageRecord(6)}, {});
    file.insert(file.end(), rest.begin() + STUB_SIZE, rest.end());
    copyText(state.sourcePath, temp.write("setup.exe", file).c_str());
    EXPECT_EQ(loadPackage(), LOAD_FAILED);
}

}  // namespace
