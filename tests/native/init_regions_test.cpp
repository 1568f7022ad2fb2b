// updpack init gives a project that builds as soon as its version folders are
// filled and whose copied texts, layouts and pictures are the ones packed;
// updpack regions proposes regions that the project reader takes back and
// the installer's own search lands on the differing bytes in every copy.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/verify.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "support.h"
#include "pkg/update.h"
#include "updpack/commands.h"
#include "updpack/project.h"
#include "updpack/regions.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class InitProject : public testsupport::StateTest {};

TEST_F(InitProject, BuildsOnceTheVersionsAreFilledAndPacksTheCopiedFiles) {
    std::string dir = temp.path("proj");
    ASSERT_EQ(updpack::init(dir, false), updpack::COMMAND_OK);
    EXPECT_THROW(updpack::init(dir, false), std::runtime_error) << "an existing project is kept";
    writeText(dir + "/versions/1.0/app.txt", "version one");
    writeText(dir + "/versions/2.0/app.txt", "version two");
    std::string texts = readText(dir + "/texts.toml");
    size_t at = texts.find("Welcome to the update");
    ASSERT_NE(at, std::string::npos);
    writeText(dir + "/texts.toml", texts.replace(at, 21, "Welcome, edited"));
    // What updpack build does with the project, untouched.
    updpack::Project project = updpack::loadProject(dir + "/project.toml");
    ASSERT_TRUE(project.update);
    std::vector<pkg::FileSet> olds = {pkg::readFolder(project.update->oldDirs.at(0))};
    pkg::FileSet fresh = pkg::readFolder(project.update->newDir);
    pkg::UpdateOptions options;
    options.records = updpack::projectRecords(project);
    options.rules = updpack::resolveRules(*project.update, {&fresh, &olds[0]});
    updpack::applyNewVersionRules(*project.update, fresh, options.rules);
    std::string exe = temp.write("setup.exe", pkg::buildUpdateFromSets(olds, fresh, testsupport::fakeStub(), options).installer);

    copyText(state.sourcePath, exe.c_str());
    ASSERT_EQ(loadPackage(), LOAD_OK);
    EXPECT_STREQ(getString(0, 1), "Welcome, edited");
    EXPECT_EQ(state.entryCount, 1u);
    ASSERT_TRUE(state.frameImage);

    ASSERT_EQ(updpack::init(dir, true), updpack::COMMAND_OK) << "--force replaces the scaffold";
    EXPECT_EQ(readText(dir + "/versions/2.0/app.txt"), "version two") << "and leaves the versions alone";
    EXPECT_NE(readText(dir + "/texts.toml").find("Welcome to the update"), std::string::npos);
}

TEST_F(InitProject, EditedLayoutScriptReachesThePackage) {
    if (updpack::findWindres().empty()) GTEST_SKIP() << "no windres: the project uses templates.res";
    std::string dir = temp.path("proj");
    ASSERT_EQ(updpack::init(dir, false), updpack::COMMAND_OK);
    std::string rc = readText(dir + "/templates.rc");
    size_t at = rc.find("\"&Next >\"");
    ASSERT_NE(at, std::string::npos);
    writeText(dir + "/templates.rc", rc.replace(at, 9, "\"&Onward\""));
    pkg::Bytes blob = updpack::templateBlobOf(dir + "/templates.rc");
    std::string wide;
    for (char c : std::string("&Onward")) wide += std::string{c, '\0'};
    EXPECT_NE(std::string(blob.begin(), blob.end()).find(wide), std::string::npos);
}

// --- regions ---

pkg::Bytes noise(size_t n, uint32_t seed) {
    pkg::Bytes v(n);
    for (auto& b : v) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    return v;
}

// The engine's view of one rule's regions: a one-entry table, located in a file.
std::vector<std::pair<int32_t, uint32_t>> locate(const std::vector<pkg::Region>& regions, const std::string& file) {
    pkg::TableEntry e;
    e.regions = regions;
    std::vector<uint8_t> table = pkg::FileTableBuilder(0).add(e).bytes();
    FileEntry* entry = reinterpret_cast<FileEntry*>(table.data() + 4);
    FileHandle h = openFile(file.c_str(), OPEN_READ);
    locateRegions(entry->regionCount, entryRegions(entry), h);
    closeFile(h);
    std::vector<std::pair<int32_t, uint32_t>> out;
    PreservedRegion* r = entryRegions(entry);
    for (uint16_t k = 0; k < entry->regionCount; k++, r = nextRegion(r)) out.push_back({r->offset, r->length});
    return out;
}

TEST(Regions, ProposedPatternsLandOnTheSerialInEveryCopy) {
    testsupport::TempDir temp;
    const size_t serialAt = 70000, serialLength = 10;
    std::vector<std::string> folders;
    for (int k = 0; k < 3; k++) {
        std::string dir = temp.path("inst" + std::to_string(k));
        fs::create_directories(dir + "/data");
        pkg::Bytes bin = noise(100000, 7);
        for (size_t i = 0; i < serialLength; i++) bin[serialAt + i] = static_cast<uint8_t>('0' + (k * 3 + i) % 10);
        bin[serialAt + 4] = static_cast<uint8_t>(k);  // a field that differs in one byte less
        pkg::writeFile(dir + "/data/app.bin", bin);
        writeText(dir + "/user.ini", "[user]\nname=" + std::string(k + 3, 'x') + "\n");
        writeText(dir + "/same.txt", "alike");
        writeText(dir + "/counter.dat", std::string(400, '\0') + char('a' + k) + std::string(400, '\0'));
        folders.push_back(dir);
    }
    std::string toml = updpack::regionsToml(folders);
    EXPECT_NE(toml.find("# user.ini: the copies differ in length (16, 17, 18 bytes)"), std::string::npos) << toml;
    EXPECT_EQ(toml.find("same.txt"), std::string::npos);
    EXPECT_NE(toml.find("{ offset = 400, length = 1 }"), std::string::npos) << "zeros all round: no unique pattern";

    writeText(temp.path("p.toml"), "[installer]\ndefaults = false\n[update]\nold = [\"inst0\"]\nnew = \"inst1\"\n" + toml);
    updpack::Project p = updpack::loadProject(temp.path("p.toml"));
    pkg::FileSet files = {{"data\\app.bin", {}}};
    auto rules = updpack::resolveRules(*p.update, {&files});
    const auto& regions = rules.at("data\\app.bin").regions;
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_FALSE(regions[0].pattern.empty());
    EXPECT_LE(regions[0].pattern.size(), updpack::kMaxPattern);
    uint32_t sums[3];
    for (int k = 0; k < 3; k++) {
        auto located = locate(regions, folders[k] + "/data/app.bin");
        ASSERT_EQ(located.size(), 1u);
        EXPECT_EQ(located[0].first + located[0].second, serialAt + serialLength) << "copy " << k;
        EXPECT_LE(located[0].first, int32_t(serialAt));
        pkg::Bytes bin = pkg::readFile(folders[k] + "/data/app.bin");
        sums[k] = pkg::blankedChecksum(bin.data(), bin.size(), regions);
    }
    EXPECT_EQ(sums[0], sums[1]) << "blanked, the copies are one version";
    EXPECT_EQ(sums[1], sums[2]);
}

TEST(Regions, APatternMustBeUniqueInEveryCopy) {
    // "KEY=" stands before the field, but one copy's field holds "KEY=" as
    // well, so the pattern must reach one byte further back.
    pkg::Bytes a = noise(2000, 3), b = a;
    const char* lead = ".KEY=";
    std::copy(lead, lead + 5, a.begin() + 995);
    std::copy(lead, lead + 5, b.begin() + 995);
    a[994] = b[994] = '\n';  // a text pattern grows no further than its line
    const char* fieldA = "AAAAAAAA";
    const char* fieldB = "xKEY=xxx";
    std::copy(fieldA, fieldA + 8, a.begin() + 1000);
    std::copy(fieldB, fieldB + 8, b.begin() + 1000);
    std::string why;
    auto regions = updpack::proposeRegions({&a, &b}, why);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(std::string(regions[0].pattern.begin(), regions[0].pattern.end()), ".KEY=");
    EXPECT_EQ(regions[0].offset, 995u);
    EXPECT_EQ(regions[0].length, 13u);

    // Between binary bytes the shortest unique run grows to eight bytes,
    // which are less likely to turn up early in another version's copy.
    pkg::Bytes e = noise(2000, 5), f = e;
    e[1500] ^= 0xFF;
    regions = updpack::proposeRegions({&e, &f}, why);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].pattern, pkg::Bytes(e.begin() + 1492, e.begin() + 1500));
    EXPECT_EQ(regions[0].length, 9u);

    pkg::Bytes c = noise(100, 1), d = noise(100, 2);
    EXPECT_TRUE(updpack::proposeRegions({&c, &d}, why).empty());
    EXPECT_NE(why.find("too widely"), std::string::npos);
}

}  // namespace
