// The defaults updpack ships must give a complete wizard: a text for every
// (table, index) pair the installer uses, "%s" exactly where a path goes,
// layouts that carry every control the pages rely on, and a project file
// that can replace any of it. Also the .res reader behind the layouts.
#include <cstring>
#include <fstream>
#include <set>

#include "package/dialogs.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "pkg/resources.h"
#include "support.h"
#include "updpack/project.h"

using namespace pkg;

namespace {

// Window and dialog style bits the layouts are checked for.
const uint32_t WS_CHILD = 0x40000000, WS_POPUP = 0x80000000, WS_CAPTION = 0x00C00000;

std::string defaults() { return updpack::findDefaultsDir(); }

std::map<std::pair<int, int>, std::string> defaultTexts() {
    return updpack::loadTexts(defaults() + "/texts.toml");
}

// Control ids of a template, as the stub's walk reads them, and its style.
struct Layout {
    uint32_t style = 0;
    std::set<int> ids;
};

Layout parse(const Bytes& blob, unsigned number) {
    uint32_t offset;
    std::memcpy(&offset, blob.data() + 4 * number, 4);
    const uint8_t* t = blob.data() + offset;
    uint32_t size = static_cast<uint32_t>(blob.size() - offset);
    Layout l;
    DialogShape shape{};
    EXPECT_NE(describeDialogTemplate(t, size, &shape), 0u) << "template " << number;
    l.style = shape.style;
    uint32_t ids[256];
    uint32_t count = dialogControlIds(t, size, ids, 256);
    for (uint32_t i = 0; i < count && i < 256; i++) l.ids.insert(static_cast<int16_t>(ids[i]));
    return l;
}

}  // namespace

// Every pair the program reads has wording; (1, 1) stays empty so that the
// information page is skipped unless a publisher writes one.
TEST(WizardDefaults, EveryTextThePagesAndMessagesUse) {
    auto texts = defaultTexts();
    auto has = [&](int t, int i) { return texts.count({t, i}) && !texts.at({t, i}).empty(); };
    for (int i = 0; i <= 38; i++) EXPECT_TRUE(has(6, i)) << "6." << i;
    EXPECT_TRUE(has(6, 39)) << "the list of switches";
    for (int i = 0; i <= 5; i++) EXPECT_TRUE(has(7, i)) << "7." << i;
    for (int p : {0, 2, 3, 4, 5}) EXPECT_TRUE(has(p, 0)) << p << ".0 title";
    for (int i = 1; i <= 4; i++) EXPECT_TRUE(has(0, i) && has(2, i)) << i;
    EXPECT_TRUE(has(5, 1) && has(5, 2) && has(5, 3));
    EXPECT_FALSE(has(1, 1));
}

// A path shows only where the text says "%s"; any other conversion would
// print literally, so none may appear.
TEST(WizardDefaults, PathsAppearExactlyWhereTheMessagesNameOne) {
    const std::set<std::pair<int, int>> withPath = {{6, 9},  {6, 10}, {6, 11}, {6, 12}, {6, 18}, {6, 19},
                                                    {6, 20}, {6, 21}, {6, 23}, {6, 31}, {6, 35},
                                                    {6, 37}, {5, 2}};
    for (const auto& [at, text] : defaultTexts()) {
        std::string name = std::to_string(at.first) + "." + std::to_string(at.second);
        EXPECT_EQ(text.find("%s") != std::string::npos, withPath.count(at) == 1) << name << ": " << text;
        std::string rest = text;
        for (const char* allowed : {"%s", "%d"})
            for (size_t p; (p = rest.find(allowed)) != std::string::npos;) rest.erase(p, 2);
        EXPECT_EQ(rest.find('%'), std::string::npos) << name << ": " << text;
        if (at == std::make_pair(6, 32)) EXPECT_NE(text.find("%d"), std::string::npos);
        else EXPECT_EQ(text.find("%d"), std::string::npos) << name;
    }
}

// The layouts carry the controls each page and dialog relies on; the
// finish page leaves out 1001 and 1002, whose texts are not for showing.
TEST(WizardDefaults, LayoutsCarryTheControlsThePagesUse) {
    std::string res = defaults() + "/templates.res";
    Bytes blob = templateBlobFromDialogs(dialogResources(readFile(res), res), res);
    auto has = [](const Layout& l, std::initializer_list<int> ids) {
        for (int id : ids)
            if (!l.ids.count(id)) return ::testing::AssertionFailure() << "no control " << id;
        return ::testing::AssertionSuccess();
    };
    Layout windowed = parse(blob, 0), full = parse(blob, 1);
    EXPECT_TRUE(has(windowed, {1, 2, 1006, 1007, 1011, 1012}));
    EXPECT_TRUE(has(full, {1, 2, 1006, 1007, 1011, 1012}));
    EXPECT_TRUE(windowed.style & WS_CHILD);
    EXPECT_EQ(full.style & (WS_POPUP | WS_CAPTION), uint32_t(WS_POPUP | WS_CAPTION));
    EXPECT_TRUE(has(parse(blob, 2), {1000, 1001, 1002, 1003, 1004, 1005}));
    EXPECT_TRUE(has(parse(blob, 3), {1000}));
    EXPECT_TRUE(has(parse(blob, 4), {1000, 1008, 1009, 1010, 1013}));
    EXPECT_TRUE(has(parse(blob, 5), {1000, 1001, 1002, 1003}));
    Layout finish = parse(blob, 6);
    EXPECT_TRUE(has(finish, {1000, 1013}));
    EXPECT_FALSE(finish.ids.count(1001) || finish.ids.count(1002));
    EXPECT_TRUE(has(parse(blob, 7), {101, 1009, 1091, 1, 2, 1121, 1137, 1152, 1120}));
    EXPECT_TRUE(has(parse(blob, 9), {1000, 1004, 1005, 1, 2}));
    for (unsigned n : {2u, 3u, 4u, 5u, 6u}) EXPECT_TRUE(parse(blob, n).style & WS_CHILD) << n;
}

// A publisher's own .res: dialogs are taken by number; a missing one or a
// damaged file is refused with the file named.
TEST(WizardDefaults, ResourceFilesAreReadByDialogNumber) {
    Bytes res = readFile(defaults() + "/templates.res");
    auto dialogs = dialogResources(res, "t.res");
    for (unsigned n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u}) EXPECT_TRUE(dialogs.count(n)) << n;
    Bytes blob = templateBlobFromDialogs(dialogs, "t.res");
    uint32_t o8, o9;
    std::memcpy(&o8, blob.data() + 32, 4);
    std::memcpy(&o9, blob.data() + 36, 4);
    EXPECT_EQ(o8, o9) << "number 8 has no dialog of its own";
    std::memcpy(&o9, blob.data(), 4);
    EXPECT_EQ(o9, 40u) << "ten offsets, then the first template";

    auto without5 = dialogs;
    without5.erase(5);
    try {
        templateBlobFromDialogs(without5, "mine.res");
        FAIL() << "a missing dialog must be refused";
    } catch (const ResourceError& e) {
        EXPECT_NE(std::string(e.what()).find("mine.res: no DIALOG numbered 5"), std::string::npos) << e.what();
    }
    Bytes cut(res.begin(), res.begin() + res.size() - 7);
    EXPECT_THROW(dialogResources(cut, "cut.res"), ResourceError);
    Bytes huge = dialogs[2];
    huge.resize(20000);
    auto big = dialogs;
    big[9] = huge;
    EXPECT_THROW(templateBlobFromDialogs(big, "big.res"), ResourceError) << "a copy holds only 16 KiB";
    EXPECT_THROW(dialogResources(Bytes(64, 1), "x.bin"), ResourceError);
}

class WizardProject : public testsupport::StateTest {
protected:
    // Packs the project with the stand-in stub and loads it as the
    // installer would.
    void load(const std::string& toml) {
        std::string path = temp.path("p.toml");
        std::ofstream(path) << toml;
        project = updpack::loadProject(path);
        std::string exe = temp.write("setup.exe", buildInstaller(testsupport::fakeStub(), updpack::projectRecords(project), {}));
        copyText(state.sourcePath, exe.c_str());
        ASSERT_EQ(loadPackage(), LOAD_OK);
    }
    updpack::Project project;
};

// Without a word about layouts or texts a project gets the defaults; any
// text or picture it names replaces the default one.
TEST_F(WizardProject, DefaultsFillWhatTheProjectLeavesOut) {
    load("[installer]\ndestination = \"C:\\\\App\"\n[texts]\n\"6.0\" = \"Mine\"\n\"1.1\" = \"Notes\"\n");
    EXPECT_STREQ(getString(6, 0), "Mine");
    EXPECT_STREQ(getString(1, 1), "Notes");
    EXPECT_EQ(getString(6, 16), defaultTexts().at({6, 16}));
    EXPECT_GT(state.templateBlobSize, 40u);
    ASSERT_TRUE(state.frameImage);
    EXPECT_EQ(state.frameImage[0], 'B');
    EXPECT_TRUE(state.backgroundImage);
}

TEST_F(WizardProject, EmptyPictureNamesMeanNoPicture) {
    load("[installer]\nframe_image = \"\"\nbackground_image = \"\"\n");
    EXPECT_FALSE(state.frameImage);
    EXPECT_FALSE(state.backgroundImage);
    EXPECT_TRUE(state.templateBlob);
}

TEST_F(WizardProject, DefaultsCanBeTurnedOff) {
    load("[installer]\ndefaults = false\n[texts]\n\"6.0\" = \"Only\"\n");
    EXPECT_FALSE(state.templateBlob);
    EXPECT_FALSE(state.frameImage);
    EXPECT_STREQ(getString(6, 0), "Only");
    EXPECT_STREQ(getString(6, 16), "");
}
