// A project names the product's earlier and new versions and per-file rules
// by glob; mistakes are refused with the file, line and key named.
#include <filesystem>
#include <fstream>

#include "support.h"
#include "updpack/commands.h"
#include "updpack/project.h"

namespace {

using testsupport::projectError;

TEST(ProjectUpdate, VersionsAndFileRules) {
    testsupport::TempDir temp;
    std::filesystem::create_directories(temp.path("v1"));
    std::filesystem::create_directories(temp.path("v2"));
    std::string path = temp.path("p.toml");
    std::ofstream(path) << "[installer]\ndefaults = false\n"
                           "[update]\nold = [\"v1\"]\nnew = \"v2\"\nvolume_size = 1000000\n"
                           "[[update.rule]]\nfiles = \"*.ini\"\nunknown = \"ask\"\nalternate = \"disk1\"\n"
                           "regions = [ { pattern = \";<user>\", length = 53 }, { offset = 8, length = 4, restore = false } ]\n"
                           "[[update.rule]]\nfiles = \"data/*\"\nlocation = \"windows\"\noptional = true\n";
    updpack::Project p = updpack::loadProject(path);
    ASSERT_TRUE(p.update);
    ASSERT_EQ(p.update->oldDirs.size(), 1u);
    EXPECT_EQ(std::filesystem::path(p.update->newDir).filename(), "v2");
    EXPECT_EQ(p.update->volumeSize, 1000000u);

    pkg::FileSet files = {{"settings.ini", {}}, {"data\\table.dat", {}}, {"data\\sub\\deep.dat", {}}, {"app.exe", {}}};
    auto rules = updpack::resolveRules(*p.update, {&files});
    const pkg::FileRule& ini = rules.at("settings.ini");
    EXPECT_EQ(ini.onUnknownVersion, UNK_ASK_FOLDER);
    EXPECT_EQ(ini.altSubfolder, "disk1");
    ASSERT_EQ(ini.regions.size(), 2u);
    EXPECT_EQ(std::string(ini.regions[0].pattern.begin(), ini.regions[0].pattern.end()), ";<user>");
    EXPECT_TRUE(ini.regions[0].restore);
    EXPECT_EQ(ini.regions[1].offset, 8);
    EXPECT_FALSE(ini.regions[1].restore);
    EXPECT_EQ(rules.at("data\\table.dat").location, LOC_WINDOWS_DIR);
    EXPECT_TRUE(rules.at("data\\table.dat").optional);
    EXPECT_EQ(rules.count("data\\sub\\deep.dat"), 0u) << "'*' stays inside one folder";
    EXPECT_EQ(rules.count("app.exe"), 0u);
}

TEST(ProjectUpdate, GlobsMatchLikeWindowsNames) {
    EXPECT_TRUE(updpack::globMatches("*.INI", "settings.ini"));
    EXPECT_TRUE(updpack::globMatches("data/?able.dat", "data\\table.dat"));
    EXPECT_TRUE(updpack::globMatches("*\\*", "data\\x"));
    EXPECT_FALSE(updpack::globMatches("*", "data\\x"));
    EXPECT_FALSE(updpack::globMatches("a?", "a"));
}

TEST(ProjectUpdate, MistakesNameFileLineAndKey) {
    testsupport::TempDir temp;
    std::filesystem::create_directories(temp.path("v1"));
    std::ofstream(temp.path("gone.toml")) << "[update]\nold = [\"v1\"]\nnew = \"v9\"\n";
    EXPECT_NE(projectError(temp.path("gone.toml")).find("gone.toml:3: update.new: no such folder"), std::string::npos);
    std::ofstream(temp.path("bad.toml")) << "[update]\nold = [\"v1\"]\nnew = \"v1\"\n"
                                            "[[update.rule]]\nfiles = \"a.txt\"\nunknown = \"maybe\"\n";
    EXPECT_NE(projectError(temp.path("bad.toml")).find("bad.toml:6: update.rule.unknown: expected one of fail, skip, ask"),
              std::string::npos);
    std::ofstream(temp.path("nofiles.toml")) << "[update]\nold = [\"v1\"]\nnew = \"v1\"\n[[update.rule]]\nunknown = \"skip\"\n";
    EXPECT_NE(projectError(temp.path("nofiles.toml")).find("update.rule.files"), std::string::npos);
    std::ofstream(temp.path("key.toml")) << "[update]\nold = [\"v1\"]\nnew = \"v1\"\nspeed = 3\n";
    EXPECT_NE(projectError(temp.path("key.toml")).find("key.toml:4: update.speed: unknown key"), std::string::npos);
}

}  // namespace

namespace {

// Mistakes a publisher makes in [update] and around it: each refused with
// file, line and key, before anything is read or written.
class ProjectChecks : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string write(const std::string& body) {
        std::filesystem::create_directories(temp.path("v1"));
        std::filesystem::create_directories(temp.path("v2"));
        pkg::writeFile(temp.path("v1/a.txt"), {'1'});
        pkg::writeFile(temp.path("v2/a.txt"), {'2'});
        std::string path = temp.path("p.toml");
        std::ofstream(path) << body;
        return path;
    }
    // What `updpack build` says, or "" when it builds.
    std::string buildError(const std::string& path) {
        std::string stub = temp.write("stub.exe", testsupport::fakeStub());
        try {
            testing::internal::CaptureStdout();
            updpack::build(path, temp.path("out.exe"), stub, 1);
            testing::internal::GetCapturedStdout();
        } catch (const std::exception& e) {
            testing::internal::GetCapturedStdout();
            return e.what();
        }
        return "";
    }
};

TEST_F(ProjectChecks, UpdateMistakesNameFileLineAndKey) {
    const std::string update = "[update]\nold = [\"v1\"]\nnew = \"v2\"\n";
    const std::pair<std::string, std::string> cases[] = {
        {"[update]\nold = []\nnew = \"v2\"\n", "p.toml:2: update.old: lists no earlier version"},
        {"[installer]\ndestination = \"#Nowhere#\\\\App\"\n" + update,
         "p.toml:2: installer.destination: unknown folder macro #Nowhere#"},
        {"[installer]\noutput = \"v1/setup.exe\"\n" + update, "p.toml:2: installer.output: the installer"},
        {"[texts]\n\"6.99\" = \"Hello\"\n" + update, "p.toml:2: texts.6.99: no text 6.99 is shown"},
    };
    for (const auto& [body, expected] : cases) {
        std::string error = testsupport::projectError(write(body));
        EXPECT_NE(error.find(expected), std::string::npos) << body << "\n" << error;
    }
    // Macros the installer knows, in any case, and texts it shows, pass.
    EXPECT_EQ(testsupport::projectError(write("[installer]\ndestination = \"#program files#\\\\App\"\n"
                                              "[texts]\n\"6.33\" = \"Damaged\"\n" + update)), "");
}

TEST_F(ProjectChecks, BuildRefusesWhatWouldUpdateNothingOrBreak) {
    std::string error = buildError(write("[installer]\ndefaults = false\n"));
    EXPECT_NE(error.find("p.toml: update: the project has no [update] table"), std::string::npos) << error;

    error = buildError(write("[update]\nold = [\"v1\"]\nnew = \"v2\"\n[[update.rule]]\nfiles = \"*.ini\"\n"));
    EXPECT_NE(error.find("p.toml:5: update.rule.files: \"*.ini\" matches no file of any version"), std::string::npos)
        << error;

    pkg::writeFile(temp.path("bad-stub.exe"), pkg::Bytes(100, 0));
    std::string path = write("[installer]\nstub = \"bad-stub.exe\"\n[update]\nold = [\"v1\"]\nnew = \"v2\"\n");
    try {
        updpack::build(path, temp.path("out.exe"), "", 1);
        ADD_FAILURE() << "a bad stub built";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("p.toml:2: installer.stub: "), std::string::npos) << e.what();
    }

    // An old version equal to the new one builds, with a warning.
    pkg::writeFile(temp.path("v1/a.txt"), {'2'});
    path = temp.path("p.toml");
    testing::internal::CaptureStderr();
    std::string stub = temp.write("stub.exe", testsupport::fakeStub());
    testing::internal::CaptureStdout();
    std::ofstream(path, std::ios::trunc) << "[installer]\ndefaults = false\n[update]\nold = [\"v1\"]\nnew = \"v2\"\n";
    EXPECT_EQ(updpack::build(path, temp.path("out.exe"), stub, 1), updpack::COMMAND_OK);
    testing::internal::GetCapturedStdout();
    std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("holds the same files as the new version"), std::string::npos) << warnings;
}

}  // namespace
