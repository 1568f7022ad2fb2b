// Names as Windows sees them: versions are matched without case, a rename
// in case only is an update that gives the file its new name, names Windows
// cannot hold and paths past the budget are refused at build time, as are
// symbolic links (unless followed) and a name that is a file in one version
// and a folder in another; empty folders are reported.
#include <unistd.h>

#include <filesystem>

#include "engine/results.h"
#include "package/filetable.h"
#include "pkg/update.h"
#include "pkg/differ.h"
#include "pkg/names.h"
#include "support.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace {

using Bytes = pkg::Bytes;

using testcommon::text;

using testcommon::failure;

TEST(WindowsNames, WhatWindowsCannotHold) {
    for (const char* good : {"readme.txt", "a b\\c.d", "con2.txt", "COM0", "LPT10.log", "my.config\\x", ".hidden"})
        EXPECT_EQ(pkg::windowsNameProblem(good), "") << good;
    for (const char* bad : {"a:b", "what?.txt", "star*", "pipe|", "q\"uote", "<x>", "tab\there", "trailing.",
                            "trailing ", "dir.\\x", "CON", "con.txt", "Aux.h", "nul", "COM1", "lpt9.log", "a\\\\b"})
        EXPECT_NE(pkg::windowsNameProblem(bad), "") << bad;
    EXPECT_TRUE(pkg::sameName("Docs/ReadMe.TXT", "docs\\readme.txt"));
    EXPECT_TRUE(pkg::sameName("caf\xC3\xA9", "CAF\xC3\x89"));  // accented letters too (codepage_test.cpp)
    EXPECT_EQ(pkg::DESTINATION_BUDGET + pkg::RELATIVE_PATH_BUDGET + 4, 259u);
}

class VersionFolders : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string folder(const std::string& name, const pkg::FileSet& files) {
        std::string root = temp.path(name);
        fs::create_directories(root);
        for (const auto& [rel, bytes] : files) {
            std::string path = root + "/" + rel;
            std::replace(path.begin(), path.end(), '\\', '/');
            fs::create_directories(fs::path(path).parent_path());
            pkg::writeFile(path, bytes);
        }
        return root;
    }
};

TEST_F(VersionFolders, RefusedNamesNameTheFileAndItsFolder) {
    std::string v = folder("2.0", {{"ok.txt", text("x")}, {"NUL.txt", text("y")}});
    std::string why = failure([&] { pkg::scanFolder(v); });
    EXPECT_NE(why.find("2.0: NUL.txt: Windows cannot hold this name"), std::string::npos) << why;

    v = folder("twice", {{"ReadMe.txt", text("x")}, {"README.TXT", text("y")}});
    why = failure([&] { pkg::scanFolder(v); });
    EXPECT_NE(why.find("only in case"), std::string::npos) << why;

    std::string deep(pkg::RELATIVE_PATH_BUDGET - 4, 'd');
    v = folder("long", {{deep + "\\a.b", text("fits")}});
    EXPECT_EQ(pkg::scanFolder(v).files.size(), 1u);
    v = folder("longer", {{deep + "\\ab.c", text("one too many")}});
    why = failure([&] { pkg::scanFolder(v); });
    EXPECT_NE(why.find("201 characters; relative paths may have at most 200"), std::string::npos) << why;
}

TEST_F(VersionFolders, LinksAreRefusedOrFollowedUnderTheirOwnName) {
    std::string outside = folder("ext", {{"t.txt", text("target")}});
    std::string v = folder("2.0", {{"a.txt", text("a")}});
    fs::create_directories(v + "/sub");
    fs::create_symlink(outside + "/t.txt", v + "/sub/link.txt");
    std::string why = failure([&] { pkg::scanFolder(v); });
    EXPECT_NE(why.find("sub\\link.txt: a symbolic link"), std::string::npos) << why;
    EXPECT_NE(why.find("follow_links"), std::string::npos) << why;

    pkg::FolderOptions follow;
    follow.followLinks = true;
    pkg::Folder f = pkg::scanFolder(v, follow);
    ASSERT_EQ(f.files.count("sub\\link.txt"), 1u);  // the link's name, never the target's path
    EXPECT_EQ(f.files["sub\\link.txt"], text("target"));
    EXPECT_EQ(f.files.size(), 2u);

    fs::create_directory_symlink(v, v + "/sub/loop");
    why = failure([&] { pkg::scanFolder(v, follow); });
    EXPECT_NE(why.find("loop"), std::string::npos) << why;
    fs::remove(v + "/sub/loop");
    fs::create_symlink(temp.path("nowhere"), v + "/broken");
    why = failure([&] { pkg::scanFolder(v, follow); });
    EXPECT_NE(why.find("broken: a broken symbolic link"), std::string::npos) << why;
}

TEST_F(VersionFolders, EmptyFoldersAreReported) {
    std::string v = folder("2.0", {{"a.txt", text("a")}});
    fs::create_directories(v + "/logs/old");
    fs::create_directories(v + "/cache");
    pkg::Folder f = pkg::scanFolder(v);
    EXPECT_EQ(f.emptyFolders, (std::vector<std::string>{"cache", "logs\\old"}));
}

// A name that is a file in one version and a folder in another: the
// installer cannot change one into the other, so the build says so.
TEST(FileFolderChanges, AreRefusedBothWays) {
    pkg::UpdateOptions options;
    options.oldNames = {"1.0"};
    pkg::FileSet old = {{"data", text("a file")}, {"x.txt", text("1")}};
    pkg::FileSet now = {{"DATA\\table.dat", text("a folder")}, {"x.txt", text("2")}};
    std::string why = failure([&] { pkg::buildUpdateFromSets({old}, now, testsupport::fakeStub(), options); });
    EXPECT_NE(why.find("data: a file in 1.0 but a folder in the new version"), std::string::npos) << why;
    why = failure([&] { pkg::buildUpdateFromSets({now}, old, testsupport::fakeStub(), options); });
    EXPECT_NE(why.find("data: a folder in 1.0 (holding DATA\\table.dat) but a file"), std::string::npos) << why;
}

TEST(CaseOnlyChanges, AreUpdatesNotDeletions) {
    pkg::FileSet old = {{"README.TXT", text("Product 1.0")}, {"App.exe", text("same bytes")}};
    pkg::FileSet now = {{"readme.txt", text("Product 2.0")}, {"app.exe", text("same bytes")}};
    pkg::BuiltUpdate u = pkg::buildUpdateFromSets({old}, now, testsupport::fakeStub(), {});
    ASSERT_EQ(u.entries.size(), 2u);  // no delete entries
    for (const pkg::TableEntry& e : u.entries) {
        EXPECT_FALSE(e.deleteFile) << e.relativePath;
        EXPECT_EQ(e.presence, PRES_REQUIRED) << e.relativePath;
        EXPECT_EQ(e.versions.size(), 1u) << e.relativePath;
    }
    EXPECT_EQ(u.entries[0].relativePath, "app.exe");  // the new name, even with the same bytes
}

// Through the installer's engine: an installed SAMPLE.EXE is found, and
// the update leaves it under the new version's name.
TEST_F(VersionFolders, TheEngineFindsNamesWithoutCaseAndAppliesTheNewOne) {
    std::string v1 = folder("1.0", {{"SAMPLE.EXE", text("program 1.0, a little longer")}, {"Docs\\Guide.TXT", text("g")}});
    std::string v2 = folder("2.0", {{"sample.exe", text("program 2.0, a little longer!")}, {"docs\\guide.txt", text("g")}});
    pkg::BuiltUpdate u = pkg::buildUpdate({v1}, v2, testsupport::fakeStub(), {});
    std::string installer = temp.path("setup.exe");
    pkg::writeUpdate(u, installer);

    updpack::Diagnosis d = updpack::diagnoseFolder(installer, v1, {});
    EXPECT_EQ(d.result, ERR_NONE) << d.resultText;
    for (const updpack::Finding& f : d.files) EXPECT_GE(f.chosenVersion, 0) << f.path;

    updpack::Trial t = updpack::tryUpdate(installer, v1, v2);
    EXPECT_TRUE(t.passed) << t.failure;
    EXPECT_EQ(t.updated, 2u);
}

}  // namespace
