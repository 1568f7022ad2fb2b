// A project names the product's versions and per-file rules; mistakes are
// refused with the file, line and key named.
#include <filesystem>
#include <fstream>

#include "support.h"
#include "updpack/project.h"

namespace {

std::string projectError(const std::string& path) {
    try {
        updpack::loadProject(path);
    } catch (const updpack::ProjectError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(ProjectUpdate, VersionsAndFileRules) {
    testsupport::TempDir temp;
    std::filesystem::create_directories(temp.path("v1"));
    std::filesystem::create_directories(temp.path("v2"));
    std::string path = temp.path("p.toml");
    std::ofstream(path) << "[installer]\nversions = [\"v1\", \"v2\"]\n"
                           "[files.\"settings.ini\"]\npreserve = { pattern = \";<user>\", length = 53 }\n"
                           "unknown = \"ask\"\nalt_folder = \"disk1\"\n";
    updpack::Project p = updpack::loadProject(path);
    ASSERT_EQ(p.versions.size(), 2u);
    EXPECT_EQ(std::filesystem::path(p.versions[1]).filename(), "v2");
    const pkg::FileRule& rule = p.rules.at("settings.ini");
    EXPECT_EQ(rule.onUnknownVersion, UNK_ASK_FOLDER);
    EXPECT_EQ(rule.altSubfolder, "disk1");
    ASSERT_EQ(rule.regions.size(), 1u);
    EXPECT_EQ(rule.regions[0].length, 53u);
    EXPECT_TRUE(rule.regions[0].restore);
    EXPECT_EQ(std::string(rule.regions[0].pattern.begin(), rule.regions[0].pattern.end()), ";<user>");

    std::ofstream(temp.path("one.toml")) << "[installer]\nversions = [\"v1\"]\n";
    EXPECT_NE(projectError(temp.path("one.toml")).find("one.toml:2: installer.versions: needs an old and a new"),
              std::string::npos);
    std::ofstream(temp.path("gone.toml")) << "[installer]\nversions = [\"v1\", \"v9\"]\n";
    EXPECT_NE(projectError(temp.path("gone.toml")).find("installer.versions: no such folder"), std::string::npos);
    std::ofstream(temp.path("bad.toml")) << "[files.\"a.txt\"]\nunknown = \"maybe\"\n";
    EXPECT_NE(projectError(temp.path("bad.toml")).find("bad.toml:2: files.a.txt.unknown: expected fail, skip or ask"),
              std::string::npos);
}
