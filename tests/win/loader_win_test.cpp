// The loader through the Win32 file operations: the same walk as natively,
// on real Windows files.
#include <gtest/gtest.h>

#include "package/format.h"
#include "package/loader.h"
#include "package/strings.h"
#include "run/state.h"
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
    ASSERT_EQ(loadPackage(), 1);
    EXPECT_STREQ(getString(6, 0), "Caption");
    EXPECT_EQ(stubData.header.startPage, 6);
}

}  // namespace
