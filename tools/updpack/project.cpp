// The project file as a whole: its [installer] table, the checks across
// tables, and the package records it asks for (see updpack/project.h).
#include "updpack/project.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "package/textnumbers.h"
#include "pkg/names.h"
#include "pkg/picture.h"
#include "pkg/stub.h"
#include "updpack/section.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

uint32_t registryRootIndex(const Section& s, const std::string& key) {
    static const char* names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
    static const char* shortNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    auto t = s.text(key);
    if (!t) return 1;
    for (uint32_t i = 0; i < 4; i++)
        if (*t == names[i] || *t == shortNames[i]) return i;
    throw s.error(*s.find(key), key, "expected HKCR, HKCU, HKLM or HKU");
}

pkg::Bytes logFont(const Section& s, const pkg::CodePage& codePage) {
    // LOGFONTA: height, width, escapement, orientation, weight (5 x int32),
    // italic, underline, strike-out, charset, out precision, clip precision,
    // quality, pitch and family (8 bytes), face name (32 bytes). The
    // character set is the code page's, so that the title's bytes are read
    // in it.
    pkg::Bytes b;
    pkg::put32(b, static_cast<uint32_t>(-static_cast<int32_t>(s.integer("height", 6, 400).value_or(36))));
    pkg::put32(b, 0);
    pkg::put32(b, 0);
    pkg::put32(b, 0);
    pkg::put32(b, static_cast<uint32_t>(s.integer("weight", 0, 1000).value_or(700)));
    b.push_back(s.boolean("italic").value_or(false) ? 1 : 0);
    b.insert(b.end(), {0, 0, codePage.fontCharset(), 0, 0, 0, 0});
    std::string face = s.ansiText("face", codePage).value_or("Arial");
    face = codePage.encode(face, "face");
    if (face.size() > 31)
        throw s.error(*s.find("face"), "face",
                      codePage.doubleByte() ? "at most 31 bytes in code page " + std::to_string(codePage.number())
                                            : std::string("at most 31 characters"));
    face.resize(32, '\0');
    b.insert(b.end(), face.begin(), face.end());
    return b;
}

}  // namespace


namespace {

toml::table parseProject(const std::string& path) {
    try {
        return toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " +
                           std::string(e.description()));
    }
}

// The [installer] table but its code page; `known`: the texts the installer
// shows (empty: any).
void readInstaller(Project& p, const Section& s, const std::set<std::pair<int, int>>& known) {
    const std::string& path = p.file;
    if (auto v = s.existingFile("stub")) {
        p.stub = *v;
        p.stubLine = static_cast<int>(s.find("stub")->source().begin.line);
    }
    if (auto v = s.text("output")) {
        p.output = s.resolve(*v).string();
        p.outputLine = static_cast<int>(s.find("output")->source().begin.line);
    }
    if (const toml::node* n = s.find("start_page")) {
        if (n->is_string() && n->as_string()->get() == "wizard")
            p.startPage = START_PAGE_WIZARD;
        else
            p.startPage = static_cast<uint16_t>(*s.integer("start_page", 0, 6));
    }
    p.fullScreen = s.boolean("full_screen").value_or(false);
    p.allOrNothing = s.boolean("all_or_nothing").value_or(true);
    p.destination = s.ansiText("destination", p.codePage);
    // A macro stands at the start, between two '#'; the installer knows three.
    if (p.destination && !p.destination->empty() && (*p.destination)[0] == '#') {
        size_t close = p.destination->find('#', 1);
        std::string macro = close == std::string::npos ? "" : p.destination->substr(0, close + 1);
        bool known = false;
        for (const char* m : {"#Windows#", "#System#", "#Program Files#"})
            known = known || pkg::sameName(macro, m);
        if (!macro.empty() && !known)
            throw s.error(*s.find("destination"), "destination",
                          "unknown folder macro " + macro + "; the installer knows #Windows#, #System# and "
                          "#Program Files#");
    }
    p.title = s.ansiText("title", p.codePage);
    // A picture the installer could not draw is refused now, at its line.
    auto picture = [&](const char* key) {
        std::optional<std::string> file = s.existingFile(key, true);
        if (!file || file->empty()) return file;
        try {
            pkg::pictureAsBmp(pkg::readFile(*file), *file);
        } catch (const pkg::PictureError& e) {
            throw s.error(*s.find(key), key, e.what());
        }
        return file;
    };
    p.frameImage = picture("frame_image");
    p.backgroundImage = picture("background_image");
    if (auto v = s.existingFile("texts")) {
        p.textsFile = *v;
        loadTexts(p.textsFile, known.empty() ? nullptr : &known, &p.codePage);  // reported now, with its own lines
    }
    p.useDefaults = s.boolean("defaults").value_or(true);
    p.templates = s.existingFile("templates");
    if (const toml::table* f = s.subtable("title_font"))
        p.titleFont = logFont(Section(path, "installer.title_font", *f, {"face", "height", "weight", "italic"}),
                              p.codePage);
    if (const toml::table* r = s.subtable("registry")) {
        Section rs(path, "installer.registry", *r, {"root", "key", "value"});
        p.hasRegistry = true;
        p.registryRoot = registryRootIndex(rs, "root");
        p.registryKey = rs.ansiText("key", p.codePage).value_or("");
        p.registryValue = rs.ansiText("value", p.codePage).value_or("");
    }
    if (const toml::table* r = s.subtable("ini")) {
        Section is(path, "installer.ini", *r, {"file", "section", "key"});
        p.hasIni = true;
        p.iniFile = is.ansiText("file", p.codePage).value_or("");
        p.iniSection = is.ansiText("section", p.codePage).value_or("");
        p.iniKey = is.ansiText("key", p.codePage).value_or("");
    }
}

// The defaults folder, the output path, and an output that must not land in
// a version folder.
void settleOutput(Project& p) {
    const std::string& path = p.file;
    if (p.useDefaults) {
        p.defaultsDir = findDefaultsDir();
        if (p.defaultsDir.empty())
            throw ProjectError(path + ": the default layouts and texts (a \"defaults\" folder beside updpack) "
                                      "are missing; install them or set installer.defaults = false");
    }
    if (p.output.empty()) p.output = (fs::path(path).parent_path() / "setup.exe").string();
    if (p.update) {
        std::vector<std::string> folders = p.update->oldDirs;
        folders.push_back(p.update->newDir);
        for (const std::string& folder : folders)
            if (isInside(p.output, folder))
                throw ProjectError(path + ":" + std::to_string(p.outputLine ? p.outputLine : p.update->line) + ": " +
                                   (p.outputLine ? "installer.output" : "update") + ": the installer " + p.output +
                                   " would be written into the version folder " + folder +
                                   ", and the next build would pack it; write it elsewhere");
    }
}

}  // namespace

Project loadProject(const std::string& path) {
    toml::table root = parseProject(path);
    Project p;
    p.file = path;
    Section top(path, "", root, {"installer", "texts", "update"});
    // The texts the installer shows: those the shipped defaults give.
    const std::set<std::pair<int, int>> known = knownTexts();
    // The code page first: every text and name is checked against it.
    const toml::table* installer = top.subtable("installer");
    std::optional<Section> s;
    if (installer) {
        s.emplace(path, "installer", *installer,
                  std::set<std::string>{"stub", "output", "start_page", "full_screen", "all_or_nothing", "destination", "title",
                                        "title_font", "frame_image", "background_image", "templates", "texts",
                                        "registry", "ini", "defaults", "codepage"});
        if (auto cp = s->integer("codepage", 0, 65535)) {
            try {
                p.codePage = pkg::CodePage(static_cast<unsigned>(*cp));
            } catch (const pkg::CodePageError& e) {
                throw s->error(*s->find("codepage"), "codepage", e.what());
            }
        }
    }
    if (const toml::table* t = top.subtable("update")) p.update = updateSpec(path, *t, p.codePage);
    if (installer) readInstaller(p, *s, known);
    if (top.subtable("texts")) p.texts = textsOf(path, root, known.empty() ? nullptr : &known, &p.codePage);
    settleOutput(p);
    return p;
}

bool isInside(const std::string& path, const std::string& folder) {
    fs::path p = fs::weakly_canonical(fs::absolute(path)), f = fs::weakly_canonical(fs::absolute(folder));
    auto [fe, pe] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
    return fe == f.end();
}

std::vector<pkg::Record> projectRecords(const Project& p) {
    using namespace pkg;
    std::vector<Record> records;
    fs::path defaults(p.defaultsDir);
    auto fallback = [&](const std::optional<std::string>& given, const char* name) -> std::string {
        if (given) return *given;
        return p.useDefaults ? (defaults / name).string() : std::string();
    };
    std::string templates = fallback(p.templates, "templates.res");
    if (!templates.empty()) records.push_back(bufferRecord(REC_TEMPLATES, templateBlobOf(templates)));
    records.push_back(valueRecord(REC_OPTIONS, (p.fullScreen ? OPT_FULL_SCREEN : 0) |
                                                   (p.allOrNothing ? OPT_ALL_OR_NOTHING : 0)));
    records.push_back(valueRecord(REC_CODE_PAGE, p.codePage.number()));
    // Every text in the installer's code page (loadProject checked them).
    auto ansi = [&](uint16_t tag, const std::string& text, const std::string& what) {
        return textRecord(tag, p.codePage.encode(text, p.file + ": " + what));
    };
    if (p.destination) records.push_back(ansi(REC_DEST_DIR, *p.destination, "installer.destination"));
    if (p.hasRegistry) {
        records.push_back(valueRecord(REC_REG_ROOT, p.registryRoot));
        records.push_back(ansi(REC_REG_KEY, p.registryKey, "installer.registry.key"));
        records.push_back(ansi(REC_REG_VALUE, p.registryValue, "installer.registry.value"));
    }
    if (p.hasIni) {
        records.push_back(ansi(REC_INI_FILE, p.iniFile, "installer.ini.file"));
        records.push_back(ansi(REC_INI_SECTION, p.iniSection, "installer.ini.section"));
        records.push_back(ansi(REC_INI_KEY, p.iniKey, "installer.ini.key"));
    }
    std::string frame = fallback(p.frameImage, "frame.bmp");
    if (!frame.empty()) records.push_back(bufferRecord(REC_FRAME_IMAGE, pictureAsBmp(readFile(frame), frame)));
    std::string background = fallback(p.backgroundImage, "background.bmp");
    if (!background.empty())
        records.push_back(bufferRecord(REC_BACKGROUND_IMAGE, pictureAsBmp(readFile(background), background)));
    if (p.title) records.push_back(ansi(REC_TITLE, *p.title, "installer.title"));
    if (p.titleFont) records.push_back(bufferRecord(REC_TITLE_FONT, *p.titleFont));
    std::map<std::pair<int, int>, std::string> texts;
    if (p.useDefaults) texts = loadTexts((defaults / "texts.toml").string());
    if (!p.textsFile.empty())
        for (const auto& [at, text] : loadTexts(p.textsFile)) texts[at] = text;
    for (const auto& [at, text] : p.texts) texts[at] = text;  // the project's word wins
    std::vector<std::vector<std::string>> tables(TEXT_TABLE_COUNT);
    for (const auto& [at, text] : texts) {
        auto& table = tables[at.first];
        if (table.size() <= static_cast<size_t>(at.second)) table.resize(at.second + 1);
        table[at.second] = p.codePage.encode(text, "text " + std::to_string(at.first) + "." + std::to_string(at.second));
    }
    records.push_back(stringTablesRecord(tables));
    if (p.startPage != START_PAGE_WIZARD) records.push_back(startPageRecord(p.startPage));
    return records;
}

}  // namespace updpack
