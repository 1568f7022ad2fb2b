// The project file's finer keys: texts by name and from a texts file,
// pictures as PNG, binary region patterns, delete rules and file versions;
// every mistake names the file, the line and the key.
#include <filesystem>
#include <fstream>

#include "package/format.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "support.h"
#include "updpack/project.h"

namespace {

using testsupport::projectError;

// Packs a project with the stand-in stub and loads it as the installer would.
class PackedProject : public testsupport::StateTest {
protected:
    void load(const std::string& path) {
        copyText(state.sourcePath, testsupport::packProject(temp, path).c_str());
        ASSERT_EQ(loadPackage(), LOAD_OK);
    }
};

TEST_F(PackedProject, TextsByNameLayerOverTheTextsFileAndTheDefaults) {
    std::ofstream(temp.path("words.toml")) << "[texts]\nwelcome_title = \"From the file\"\n\"6.0\" = \"File caption\"\n";
    std::ofstream(temp.path("p.toml")) << "[installer]\ntexts = \"words.toml\"\n[texts]\ncaption = \"Project caption\"\n"
                                          "button_next = \"Go\"\n";
    load(temp.path("p.toml"));
    EXPECT_STREQ(getString(0, 1), "From the file");
    EXPECT_STREQ(getString(6, 0), "Project caption") << "the project's word wins over its texts file";
    EXPECT_STREQ(getString(7, 1), "Go");
    EXPECT_STREQ(getString(6, 1), "Choose a folder") << "defaults fill the rest";
}

// Installers build every file before replacing any unless the project says
// otherwise; the choice is a bit of the options record beside full_screen.
TEST_F(PackedProject, AllOrNothingUnlessTheProjectSaysOtherwise) {
    std::ofstream(temp.path("p.toml")) << "[installer]\nfull_screen = true\n";
    load(temp.path("p.toml"));
    EXPECT_EQ(state.options, OPT_FULL_SCREEN | OPT_ALL_OR_NOTHING);
    releasePackageData();
    std::ofstream(temp.path("q.toml")) << "[installer]\nall_or_nothing = false\n";
    load(temp.path("q.toml"));
    EXPECT_EQ(state.options, 0u);
    std::ofstream(temp.path("r.toml")) << "[installer]\nall_or_nothing = 1\n";
    EXPECT_NE(projectError(temp.path("r.toml")).find("r.toml:2: installer.all_or_nothing: expected true or false"),
              std::string::npos);
}

TEST(ProjectKeys, TextMistakesNameTheirFileAndLine) {
    testsupport::TempDir temp;
    std::ofstream(temp.path("twice.toml")) << "[texts]\n\"0.1\" = \"a\"\nwelcome_title = \"b\"\n";
    EXPECT_NE(projectError(temp.path("twice.toml")).find("given twice"), std::string::npos);
    std::ofstream(temp.path("name.toml")) << "[texts]\nwelcome_titel = \"a\"\n";
    EXPECT_NE(projectError(temp.path("name.toml")).find("name.toml:2: texts.welcome_titel: expected a key"),
              std::string::npos);
    std::ofstream(temp.path("bad.toml")) << "[texts]\nx = 1\n";
    std::ofstream(temp.path("q.toml")) << "[installer]\ntexts = \"bad.toml\"\n";
    EXPECT_NE(projectError(temp.path("q.toml")).find("bad.toml:2: texts.x"), std::string::npos)
        << "a texts file's mistakes carry its own name and line";
}

TEST(ProjectKeys, EveryNamedTextIsOneTheDefaultsHave) {
    auto defaults = updpack::loadTexts(updpack::findDefaultsDir() + "/texts.toml");
    for (const auto& n : updpack::textNames()) EXPECT_TRUE(defaults.count({n.table, n.index})) << n.name;
}

TEST(ProjectKeys, WrongTypesAndPicturesAreRefusedAtTheirLine) {
    testsupport::TempDir temp;
    std::filesystem::create_directories(temp.path("v"));
    std::ofstream(temp.path("type.toml")) << "[update]\nold = [\"v\"]\nnew = \"v\"\n[[update.rule]]\nfiles = \"*\"\n"
                                             "optional = \"yes\"\n";
    EXPECT_NE(projectError(temp.path("type.toml")).find("type.toml:6: update.rule.optional: expected true or false"),
              std::string::npos);
    std::ofstream(temp.path("list.toml")) << "\n[update]\nold = \"v\"\n";
    EXPECT_NE(projectError(temp.path("list.toml")).find("list.toml:3: update.old: expected a list of folders"),
              std::string::npos);
    std::ofstream(temp.path("new.toml")) << "\n[update]\nold = [\"v\"]\n";
    EXPECT_NE(projectError(temp.path("new.toml")).find("new.toml:2: update.new: "), std::string::npos);
    std::ofstream(temp.path("ver.toml")) << "[update]\nold = [\"v\"]\nnew = \"v\"\n[[update.rule]]\nfiles = \"*\"\n"
                                            "version = \"2.0\"\n";
    EXPECT_NE(projectError(temp.path("ver.toml")).find("ver.toml:6: update.rule.version"), std::string::npos);
    std::ofstream(temp.path("hex.toml")) << "[update]\nold = [\"v\"]\nnew = \"v\"\n[[update.rule]]\nfiles = \"*\"\n"
                                            "regions = [ { pattern_bytes = \"0G\", length = 2 } ]\n";
    EXPECT_NE(projectError(temp.path("hex.toml")).find("hex.toml:6: update.rule.regions.pattern_bytes"),
              std::string::npos);
    std::ofstream(temp.path("pic.png")) << "\x89PNG\r\n\x1a\nnot really";
    std::ofstream(temp.path("pic.toml")) << "[installer]\n\nframe_image = \"pic.png\"\n";
    EXPECT_NE(projectError(temp.path("pic.toml")).find("pic.toml:3: installer.frame_image: "), std::string::npos);
}

TEST(ProjectKeys, DeleteRulesRemoveFilesAndVersionsComeFromTheRule) {
    testsupport::TempDir temp;
    std::filesystem::create_directories(temp.path("v"));
    std::ofstream(temp.path("p.toml"))
        << "[installer]\ndefaults = false\n[update]\nold = [\"v\"]\nnew = \"v\"\n"
           "[[update.rule]]\nfiles = \"cache/*\"\ndelete = true\n"
           "[[update.rule]]\nfiles = \"fixed.dll\"\nversion = \"2.1.0.7\"\n"
           "[[update.rule]]\nfiles = \"plain.dll\"\nversion = \"none\"\n"
           "[[update.rule]]\nfiles = \"*.bin\"\nregions = [ { pattern_bytes = \"00 ff10\", length = 9 } ]\n";
    updpack::Project p = updpack::loadProject(temp.path("p.toml"));
    pkg::FileSet fresh = {{"cache\\index.dat", {1}}, {"fixed.dll", {2}}, {"plain.dll", {3}}, {"app.bin", {4}}};
    auto rules = updpack::resolveRules(*p.update, {&fresh});
    EXPECT_EQ(rules.at("app.bin").regions.at(0).pattern, (std::vector<uint8_t>{0x00, 0xFF, 0x10}));
    updpack::applyNewVersionRules(*p.update, fresh, rules);
    EXPECT_EQ(fresh.count("cache\\index.dat"), 0u) << "left to the update's delete entries";
    ASSERT_TRUE(rules.at("fixed.dll").version);
    EXPECT_EQ(rules.at("fixed.dll").version->ms, 0x00020001u);
    EXPECT_EQ(rules.at("fixed.dll").version->ls, 0x00000007u);
    EXPECT_FALSE(rules.at("plain.dll").version);
}

TEST(ProjectKeys, ADeletedFileBecomesADeleteEntryThoughTheNewVersionHasIt) {
    testsupport::TempDir temp;
    for (const char* v : {"old", "new"}) {
        std::filesystem::create_directories(temp.path(v));
        std::ofstream(temp.path(v) + "/app.txt") << "app " << v;
        std::ofstream(temp.path(v) + "/legacy.dll") << "legacy";
    }
    std::ofstream(temp.path("p.toml")) << "[installer]\ndefaults = false\n[update]\nold = [\"old\"]\nnew = \"new\"\n"
                                          "[[update.rule]]\nfiles = \"legacy.dll\"\ndelete = true\n";
    updpack::Project p = updpack::loadProject(temp.path("p.toml"));
    std::vector<pkg::FileSet> olds = {pkg::readFolder(p.update->oldDirs[0])};
    pkg::FileSet fresh = pkg::readFolder(p.update->newDir);
    pkg::UpdateOptions options;
    options.rules = updpack::resolveRules(*p.update, {&fresh, &olds[0]});
    updpack::applyNewVersionRules(*p.update, fresh, options.rules);
    pkg::BuiltUpdate built = pkg::buildUpdateFromSets(olds, fresh, testsupport::fakeStub(), options);
    ASSERT_EQ(built.entries.size(), 2u);
    EXPECT_EQ(built.entries[1].relativePath, "legacy.dll");
    EXPECT_TRUE(built.entries[1].deleteFile);
}

}  // namespace
