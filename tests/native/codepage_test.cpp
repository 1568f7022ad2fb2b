// Texts and names in the installer's code page. What the package holds is
// what Windows in that code page shows: a character is written only when it
// comes back unchanged, and anything else is refused at the project line or
// the version folder's file that holds it. Names are compared as Windows
// compares them, character by character, never byte by byte: a two-byte
// character whose second byte is a backslash or an ASCII letter stays one
// character for updpack and for the installer's own path code. Inspect,
// verify and diagnose read everything back in UTF-8.
#include <filesystem>
#include <fstream>
#include <map>

#include "package/filetable.h"
#include "package/paths.h"
#include "package/codepage.h"
#include "package/loader.h"
#include "package/strings.h"
#include "pkg/codepage.h"
#include "pkg/update.h"
#include "pkg/names.h"
#include "support.h"
#include "updpack/commands.h"
#include "updpack/project.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace {

using testsupport::projectError;

using testcommon::failure;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The lead bytes of a code page as the installer's path code reads them,
// for the lifetime of the object.
class LeadBytes {
public:
    explicit LeadBytes(unsigned codePage) : flags_(pkg::CodePage(codePage).leadBytes()) {
        leadByteFlags = flags_.data();
    }
    ~LeadBytes() { leadByteFlags = nullptr; }

private:
    std::array<uint8_t, 256> flags_;
};

// --- conversion ---

TEST(CodePages, ATextIsWrittenOnlyWhenItComesBackUnchanged) {
    pkg::CodePage western(1252), japanese(932);
    EXPECT_EQ(western.fromUtf8("Büro – März €"), std::string("B\xFCro \x96 M\xE4rz \x80"));
    EXPECT_EQ(western.toUtf8("B\xFCro \x96 M\xE4rz \x80"), "Büro – März €");
    EXPECT_EQ(japanese.fromUtf8("表示ソフト"), std::string("\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67"));
    EXPECT_EQ(japanese.toUtf8("\x95\x5C\x8E\xA6"), "表示");
    EXPECT_EQ(pkg::CodePage(1258).toUtf8(*pkg::CodePage(1258).fromUtf8("Tiếng Việt")), "Tiếng Việt")
        << "a code page that joins a letter and its accent gives back what it holds at the end";

    std::string why;
    EXPECT_FALSE(western.fromUtf8("日本.txt", &why));
    EXPECT_EQ(why, "code page 1252 has no \"日\" (U+65E5)");
    // 932 has a wave dash only as Windows' fullwidth tilde: a name written
    // with U+301C would arrive under another name.
    EXPECT_FALSE(japanese.fromUtf8("a\u301Cb", &why));
    EXPECT_TRUE(contains(why, "U+301C")) << why;
    EXPECT_TRUE(japanese.fromUtf8("a\uFF5Eb"));
    EXPECT_FALSE(western.fromUtf8("B\xFCro", &why)) << "Latin-1 bytes are no UTF-8";
    EXPECT_EQ(why, "not UTF-8");

    EXPECT_TRUE(contains(failure([] { pkg::CodePage(437); }), "874, 932, 936, 949, 950, 1250"))
        << "an OEM code page is refused with the ones there are";
    EXPECT_EQ(japanese.toUtf8("a\x95"), "a\uFFFD") << "a lead byte without its second byte";
    EXPECT_EQ(japanese.fontCharset(), 128);  // SHIFTJIS_CHARSET
    EXPECT_EQ(pkg::CodePage(1251).fontCharset(), 204);  // RUSSIAN_CHARSET
    auto leads = japanese.leadBytes();
    EXPECT_TRUE(leads[0x95] && leads[0x83] && leads[0xE0]);
    EXPECT_FALSE(leads[0x5C] || leads[0x41] || leads[0xA1]) << "ASCII and half-width katakana are single bytes";
    auto none = western.leadBytes();
    EXPECT_EQ(std::count(none.begin(), none.end(), 0), 256);
}

// --- names ---

TEST(CodePages, NamesCompareAsWindowsComparesThem) {
    EXPECT_TRUE(pkg::sameName("Büro\\Übersicht.txt", "BÜRO/übersicht.TXT"));
    EXPECT_TRUE(pkg::sameName("café", "CAFÉ"));
    EXPECT_TRUE(pkg::sameName("\u00FF", "\u0178")) << "y with diaeresis has its capital in 1252";
    EXPECT_TRUE(pkg::sameName("\uFF41.txt", "\uFF21.txt")) << "full-width letters of 932";
    EXPECT_TRUE(pkg::sameName("\u03C3\u03C2", "\u03A3\u03A3")) << "both Greek sigmas";
    EXPECT_FALSE(pkg::sameName("straße", "STRASSE"));
    EXPECT_FALSE(pkg::sameName("\u00B5", "\u039C")) << "micro sign and Mu stay two names";
    EXPECT_FALSE(pkg::sameName("\u0131", "I")) << "dotless i is no I to Windows' file systems";
    EXPECT_FALSE(pkg::sameName("\u30A2", "\u30A1")) << "large and small kana are no case pair";
    // 83 41 and 83 61 differ only in an ASCII letter's case as bytes; they
    // are two unrelated characters.
    pkg::CodePage japanese(932);
    std::string a = japanese.toUtf8("\x83\x41"), b = japanese.toUtf8("\x83\x61");
    ASSERT_NE(a, b);
    EXPECT_FALSE(pkg::sameName(a, b));
    EXPECT_TRUE(contains(pkg::windowsNameProblem("CON.txt"), "device name")) << "devices are still found";

    EXPECT_TRUE(updpack::globMatches("*.TXT", "büro.txt"));
    EXPECT_TRUE(updpack::globMatches("B?ro.txt", "BÜRO.TXT")) << "'?' is one character, two bytes in UTF-8";
    EXPECT_TRUE(updpack::globMatches("Ü*/*", "übersicht\\plan.txt"));
    EXPECT_FALSE(updpack::globMatches("表?", "表"));
}

TEST(CodePages, VersionFoldersAreReadInTheCodePage) {
    testsupport::TempDir temp;
    auto put = [&](const std::string& rel) {
        std::string path = temp.path(rel);
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << rel;
    };
    put("v/資料/日本.txt");
    pkg::FolderOptions western, japanese;
    japanese.codePage = pkg::CodePage(932);
    EXPECT_EQ(failure([&] { pkg::scanFolder(temp.path("v"), western); }),
              temp.path("v") + ": 資料: the installer cannot write this name: code page 1252 has no \"資\" (U+8CC7)");
    EXPECT_TRUE(failure([&] { pkg::scanFolder(temp.path("v"), japanese); }).empty());

    put("w/Büro.txt");
    put("w/BÜRO.txt");
    EXPECT_TRUE(contains(failure([&] { pkg::scanFolder(temp.path("w"), western); }), "only in case"));

    // Relative paths are counted in the code page's bytes: 67 kanji are 134
    // bytes in 932 (201 in UTF-8); 101 are 202, past the budget.
    std::string kanji;
    for (int i = 0; i < 67; i++) kanji += "表";
    put("x/" + kanji);
    EXPECT_TRUE(failure([&] { pkg::scanFolder(temp.path("x"), japanese); }).empty());
    put("y/" + kanji + "/" + kanji.substr(0, 34 * 3) + ".t");
    EXPECT_TRUE(contains(failure([&] { pkg::scanFolder(temp.path("y"), japanese); }), ": 205 bytes in code page 932"));
}

// --- the table writer and the installer's path code ---

TEST(CodePages, TwoByteNamesStayWholeInTheInstallersPathCode) {
    pkg::TableEntry e;
    e.relativePath = "一覧表\\予定表.txt";  // 表 is 95 5C: "表\" is 95 5C 5C
    e.versions.push_back({});
    std::vector<uint8_t> table = pkg::FileTableBuilder(0, pkg::CodePage(932)).add(e).bytes();
    FileEntry* entry = reinterpret_cast<FileEntry*>(table.data() + FILE_TABLE_COUNT_SIZE);
    EXPECT_EQ(std::string(entryName(entry, 0)), "\x88\xEA\x97\x97\x95\x5C\x5C\x97\x5C\x92\xE8\x95\x5C.txt");
    EXPECT_FALSE(checkFileTable(table.data(), static_cast<uint32_t>(table.size())))
        << "read as single bytes, the name has an empty component";
    e.relativePath = "日本.txt";
    EXPECT_THROW(pkg::FileTableBuilder(0).add(e), std::invalid_argument) << "1252 cannot write it";

    LeadBytes japanese(932);
    EXPECT_TRUE(checkFileTable(table.data(), static_cast<uint32_t>(table.size())));
    for (const char* inside : {"\x95\x5C", "\x95\x5C\\a", "a\\\x83\x5C.txt"}) EXPECT_TRUE(isInsidePath(inside)) << inside;
    for (const char* outside : {"\x95\x5C\\..\\x", "\x95\x5C\\", "C:\x95\x5C"}) EXPECT_FALSE(isInsidePath(outside)) << outside;

    char path[TEXT_CAPACITY] = "C:\\\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x95\x5C";  // C:\インストール表
    appendBackslash(path);
    EXPECT_STREQ(path, "C:\\\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x95\x5C\\");
    stripBackslash(path);
    stripBackslash(path);
    EXPECT_STREQ(path, "C:\\\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x95\x5C") << "the kanji keeps its byte";
    EXPECT_STREQ(lastBackslash("a\\\x83\x5C\x83\x5C"), "\\\x83\x5C\x83\x5C");
    EXPECT_STREQ(nextBackslash("\x95\x5C\x83\x5C\\b"), "\\b");

    // A folder's name is looked up and respelled component by component, a
    // scratch copy takes another extension, a long path is shown shortened:
    // each splits at separators only.
    char scratch[TEXT_CAPACITY] = "C:\\x\\a.\x95\x5C";  // a.表
    replaceExtension(scratch, ".$$O");
    EXPECT_STREQ(scratch, "C:\\x\\a.$$O");
    char shown[TEXT_CAPACITY] = "C:\\aaaa\\bbbb\\cccc\\\x88\xEA\x97\x97\x95\x5C";  // ...\一覧表
    shortenPath(shown, 16);
    EXPECT_STREQ(shown, "C:\\aaaa\\...\\\x88\xEA\x97\x97\x95\x5C") << "the file's name is kept whole";

    // Case is ASCII letters' only: 83 41 (ア) and 83 61 (ヂ) are two
    // characters, though their second bytes differ in case.
    EXPECT_FALSE(samePathIgnoringCase("\x83\x41.txt", "\x83\x61.txt"));
    EXPECT_TRUE(samePathIgnoringCase("\x83\x41.TXT", "\x83\x41.txt"));
    EXPECT_FALSE(samePathIgnoringCase("\x83\x41", "\x83"));

    // A character that ends the text is cut whole.
    char tail[TEXT_CAPACITY] = "C:\\\x95\x5C";
    *lastChar(tail) = 0;
    EXPECT_STREQ(tail, "C:\\");
}

// --- the project ---

class CodePageProject : public testsupport::StateTest {
protected:
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(temp.path(name)) << text;
        return temp.path(name);
    }
    // Packs the project with the stand-in stub and loads it as the installer would.
    void load(const std::string& path) {
        copyText(state.sourcePath, testsupport::packProject(temp, path).c_str());
        ASSERT_EQ(loadPackage(), LOAD_OK);
    }
};

TEST_F(CodePageProject, EveryTextAndNameOutsideTheCodePageIsRefusedAtItsLine) {
    fs::create_directories(temp.path("v"));
    write("words.toml", "[texts]\n\ncaption = \"更新\"\n");
    const std::pair<std::string, std::string> cases[] = {
        {"[installer]\ndestination = \"C:\\\\製品\"\n", "p.toml:2: installer.destination: code page 1252 has no \"製\""},
        {"[installer]\ntitle = \"Ελληνικά\"\n", "p.toml:2: installer.title: code page 1252 has no \"Ε\" (U+0395)"},
        {"[installer.registry]\nkey = \"Software\\\\Фирма\"\n", "p.toml:2: installer.registry.key: code page 1252"},
        {"[installer.ini]\nfile = \"a.ini\"\nsection = \"Pfade\"\nkey = \"Ordner—日\"\n",
         "p.toml:4: installer.ini.key: code page 1252 has no \"日\""},
        {"[installer.title_font]\nface = \"ＭＳ ゴシック\"\n", "p.toml:2: installer.title_font.face: code page 1252"},
        {"[texts]\ncaption = \"Büro\"\nwelcome_title = \"日本へようこそ\"\n", "p.toml:3: texts.welcome_title: code page 1252"},
        {"[installer]\ntexts = \"words.toml\"\n", "words.toml:3: texts.caption: code page 1252 has no \"更\""},
        {"[update]\nold = [\"v\"]\nnew = \"v\"\n[[update.rule]]\nfiles = \"*\"\nunknown = \"ask\"\nalternate = \"旧\"\n",
         "p.toml:7: update.rule.alternate: code page 1252"},
        {"[installer]\ncodepage = 437\n", "p.toml:2: installer.codepage: code page 437 is no ANSI code page of Windows"},
        {"[installer]\ncodepage = \"1252\"\n", "p.toml:2: installer.codepage: expected a whole number"},
    };
    for (const auto& [project, expected] : cases) {
        write("p.toml", project);
        EXPECT_TRUE(contains(projectError(temp.path("p.toml")), expected))
            << project << "\n  gave: " << projectError(temp.path("p.toml"));
    }
    // The same texts in a code page that holds them load.
    write("p.toml", "[installer]\ncodepage = 932\ntexts = \"words.toml\"\ndestination = \"C:\\\\製品\"\n");
    EXPECT_EQ(projectError(temp.path("p.toml")), "");
}

TEST_F(CodePageProject, ThePackageHoldsTheCodePagesBytes) {
    write("p.toml",
          "[installer]\ncodepage = 932\ndestination = \"C:\\\\表示\"\ntitle = \"表示 2.0\"\n"
          "[installer.title_font]\nface = \"ＭＳ ゴシック\"\n[texts]\ncaption = \"表示ソフト\"\n");
    load(temp.path("p.toml"));
    EXPECT_STREQ(getString(6, 0), "\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67");
    EXPECT_STREQ(getString(6, 1), "Choose a folder") << "the English defaults pass unchanged";
    EXPECT_STREQ(state.destinationDir, "C:\\\x95\x5C\x8E\xA6");
    EXPECT_STREQ(state.titleText, "\x95\x5C\x8E\xA6 2.0");
    ASSERT_TRUE(state.titleFont);
    EXPECT_EQ(state.titleFont[23], 128) << "the font's character set reads the title in 932";
    EXPECT_STREQ(reinterpret_cast<const char*>(state.titleFont + 28), "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E");
    bool recorded = false;
    for (const pkg::Record& r : updpack::projectRecords(updpack::loadProject(temp.path("p.toml"))))
        recorded = recorded || (r.tag == REC_CODE_PAGE && r.payload == pkg::Bytes{0xA4, 0x03, 0, 0});
    EXPECT_TRUE(recorded) << "the package says which code page its texts are in";

    write("p.toml", "[installer]\ncodepage = 932\n[installer.title_font]\nface = \"ＭＳ Ｐゴシック体ＭＳ Ｐゴシック体\"\n");
    EXPECT_TRUE(contains(projectError(temp.path("p.toml")), "p.toml:4: installer.title_font.face: at most 31 bytes in code page 932"));
}

TEST_F(CodePageProject, InitWritesTheCodePageAndItsLanguages) {
    std::string dir = temp.path("proj");
    ASSERT_EQ(updpack::init(dir, false, 1251), updpack::COMMAND_OK);
    std::ifstream in(dir + "/project.toml");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(text, "\ncodepage = 1251    ")) << text.substr(0, 600);
    EXPECT_TRUE(contains(text, "(Cyrillic)"));
    EXPECT_EQ(updpack::loadProject(dir + "/project.toml").codePage.number(), 1251u);
    EXPECT_THROW(updpack::init(temp.path("other"), false, 850), std::invalid_argument);
}

// Layouts in UTF-8: windres is told so, and the templates carry the texts
// as written (UTF-16), whatever code page the installer's users run.
TEST_F(CodePageProject, LayoutScriptsAreReadAsUtf8) {
    if (updpack::findWindres().empty()) GTEST_SKIP() << "no windres";
    std::string script = "#include <windows.h>\n";
    for (int n = 0; n < 10; n++)
        if (n != 8)
            script += std::to_string(n) + " DIALOG 0, 0, 100, 50\nFONT 8, \"MS Shell Dlg\"\nBEGIN\n"
                      "PUSHBUTTON \"< Zurück\", 1007, 0, 0, 50, 14\nEND\n";
    write("utf8.rc", script);
    pkg::Bytes blob = updpack::templateBlobOf(temp.path("utf8.rc"));
    std::u16string wide = u"< Zurück";
    std::string bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    EXPECT_TRUE(contains(std::string(blob.begin(), blob.end()), bytes));

    write("latin1.rc", "#include <windows.h>\n\n0 DIALOG 0, 0, 100, 50\nCAPTION \"Zur\xFC" "ck\"\nBEGIN\nEND\n");
    EXPECT_TRUE(contains(failure([&] { updpack::templateBlobOf(temp.path("latin1.rc")); }),
                         "latin1.rc:4: not UTF-8; save the layouts as UTF-8, or state their code page"));
    std::string stated = script;
    stated.replace(stated.find("\n") + 1, 0, "#pragma code_page(1252)\n");
    for (size_t at; (at = stated.find("ü")) != std::string::npos;) stated.replace(at, 2, "\xFC");
    write("stated.rc", stated);
    blob = updpack::templateBlobOf(temp.path("stated.rc"));
    EXPECT_TRUE(contains(std::string(blob.begin(), blob.end()), bytes)) << "a script that names its code page";
}

// --- reading packages back ---

class CodePageTrial : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string installer = temp.path("setup.exe");

    void folder(const std::string& name, const pkg::FileSet& files) {
        for (const auto& [rel, bytes] : files) {
            std::string path = temp.path(name + "/" + rel);
            std::replace(path.begin(), path.end(), '\\', '/');
            fs::create_directories(fs::path(path).parent_path());
            pkg::writeFile(path, bytes);
        }
    }
    void build(unsigned codePage) {
        pkg::UpdateOptions options;
        options.codePage = pkg::CodePage(codePage);
        options.records = {pkg::valueRecord(REC_CODE_PAGE, codePage),
                           pkg::stringTablesRecord({{}, {}, {}, {}, {}, {}, {"", "", "", "", "", "", "", "",
                                                                             "", "", "\x83\x74\x83\x40\x83\x43\x83\x8B %s"}})};
        pkg::writeUpdate(pkg::buildUpdate({temp.path("1.0")}, temp.path("2.0"), testsupport::fakeStub(), options),
                         installer);
    }
    static pkg::Bytes bytes(const std::string& s) { return pkg::Bytes(s.begin(), s.end()); }
};

// verify and diagnose find the files under their UTF-8 names, by Windows'
// rules for case, and print names and the package's messages in UTF-8.
TEST_F(CodePageTrial, VerifyAndDiagnoseReadNamesInTheirCodePage) {
    // Renamed in case only, in full-width letters: the update gives the file
    // its new name.
    folder("1.0", {{"ｒｅａｄｍｅ.txt", bytes("alt")}, {"一覧表\\予定表.txt", bytes("1.0")}});
    folder("2.0", {{"ＲＥＡＤＭＥ.txt", bytes("neu")}, {"一覧表\\予定表.txt", bytes("2.0")},
                   {"新しい表\\ソース.txt", bytes("+")}});
    build(932);
    updpack::Trial t = updpack::tryUpdate(installer, temp.path("1.0"), temp.path("2.0"));
    EXPECT_TRUE(t.passed) << t.failure;
    EXPECT_EQ(t.updated, 2u);
    EXPECT_EQ(t.added, 1u);

    folder("inst", {{"ｒｅａｄｍｅ.TXT", bytes("???")}, {"一覧表\\予定表.txt", bytes("1.0")}});
    updpack::Diagnosis d = updpack::diagnoseFolder(installer, temp.path("inst"), {temp.path("1.0")});
    std::map<std::string, int> found;  // the table's names, in UTF-8
    for (const updpack::Finding& f : d.files) found[f.path] = f.chosenVersion;
    EXPECT_EQ(found, (std::map<std::string, int>{
                         {"ＲＥＡＤＭＥ.txt", CV_NONE},  // found under its other case, and unknown
                         {"一覧表\\予定表.txt", 0},
                         {"新しい表\\ソース.txt", CV_ABSENT}}));
    EXPECT_TRUE(contains(d.resultText, "(the installer says: \"ファイル ")) << d.resultText;
}

TEST_F(CodePageTrial, ACaseRenameOfAnAccentedLetterIsUpdatedUnderItsNewName) {
    folder("1.0", {{"über.txt", bytes("alt")}});
    folder("2.0", {{"Über.txt", bytes("neu")}});
    build(1252);
    updpack::Trial t = updpack::tryUpdate(installer, temp.path("1.0"), temp.path("2.0"));
    EXPECT_TRUE(t.passed) << t.failure;
    EXPECT_EQ(t.updated, 1u);
}

TEST_F(CodePageTrial, InspectShowsTheTextsAsWritten) {
    folder("1.0", {{"表.txt", bytes("1")}});
    folder("2.0", {{"表.txt", bytes("2")}});
    build(932);
    testing::internal::CaptureStdout();
    updpack::inspect(installer, updpack::INSPECT_RECORDS | updpack::INSPECT_TEXTS | updpack::INSPECT_FILES);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "  code page         932\n"));
    EXPECT_TRUE(contains(out, "    6.10   \"ファイル %s\"\n")) << out;
    EXPECT_TRUE(contains(out, "  \"表.txt\"\n"));
}

}  // namespace
