// A project names the product's earlier and new versions and per-file rules
// by glob; mistakes are refused with the file, line and key named.
#include <filesystem>
#include <fstream>

#include "support.h"
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
