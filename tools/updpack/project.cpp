#include "updpack/project.h"

#include <toml++/toml.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "pkg/resources.h"
#include "pkg/stub.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

// Reads one table of the project, refusing keys it does not know.
class Section {
public:
    Section(const std::string& file, const std::string& name, const toml::table& table,
            std::set<std::string> known)
        : file_(file), name_(name), table_(table) {
        for (auto&& [key, node] : table)
            if (!known.count(std::string(key.str())))
                throw error(node, std::string(key.str()), "unknown key");
    }

    ProjectError error(const toml::node& node, const std::string& key, const std::string& what) const {
        return ProjectError(file_ + ":" + std::to_string(node.source().begin.line) + ": " + qualified(key) +
                            ": " + what);
    }

    std::string qualified(const std::string& key) const { return name_.empty() ? key : name_ + "." + key; }

    const toml::node* find(const std::string& key) const { return table_.get(key); }

    std::optional<std::string> text(const std::string& key) const {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        if (!n->is_string()) throw error(*n, key, "expected a text");
        return n->as_string()->get();
    }

    std::optional<int64_t> integer(const std::string& key, int64_t lo, int64_t hi) const {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        if (!n->is_integer()) throw error(*n, key, "expected a whole number");
        int64_t v = n->as_integer()->get();
        if (v < lo || v > hi)
            throw error(*n, key, "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
        return v;
    }

    std::optional<bool> boolean(const std::string& key) const {
        const toml::node* n = find(key);
        if (!n) return std::nullopt;
        if (!n->is_boolean()) throw error(*n, key, "expected true or false");
        return n->as_boolean()->get();
    }

    // A path that must exist, resolved against the project file's folder;
    // with allowEmpty, "" stands for "none" and is kept as it is.
    std::optional<std::string> existingFile(const std::string& key, bool allowEmpty = false) const {
        auto t = text(key);
        if (!t) return std::nullopt;
        if (allowEmpty && t->empty()) return t;
        fs::path p = resolve(*t);
        if (!fs::is_regular_file(p)) throw error(*find(key), key, "no such file: " + p.string());
        return p.string();
    }

    fs::path resolve(const std::string& p) const {
        fs::path path(p);
        return path.is_absolute() ? path : fs::path(file_).parent_path() / path;
    }

    const toml::table* subtable(const std::string& key) const {
        const toml::node* n = find(key);
        if (!n) return nullptr;
        if (!n->is_table()) throw error(*n, key, "expected a table");
        return n->as_table();
    }

private:
    std::string file_, name_;
    const toml::table& table_;
};

uint32_t registryRootIndex(const Section& s, const std::string& key) {
    static const char* names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
    static const char* shortNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    auto t = s.text(key);
    if (!t) return 1;
    for (uint32_t i = 0; i < 4; i++)
        if (*t == names[i] || *t == shortNames[i]) return i;
    throw s.error(*s.find(key), key, "expected HKCR, HKCU, HKLM or HKU");
}

pkg::Bytes logFont(const Section& s) {
    // LOGFONTA: height, width, escapement, orientation, weight (5 x int32),
    // italic, underline, strike-out, charset, out precision, clip precision,
    // quality, pitch and family (8 bytes), face name (32 bytes).
    pkg::Bytes b;
    pkg::put32(b, static_cast<uint32_t>(-static_cast<int32_t>(s.integer("height", 6, 400).value_or(36))));
    pkg::put32(b, 0);
    pkg::put32(b, 0);
    pkg::put32(b, 0);
    pkg::put32(b, static_cast<uint32_t>(s.integer("weight", 0, 1000).value_or(700)));
    b.push_back(s.boolean("italic").value_or(false) ? 1 : 0);
    b.insert(b.end(), {0, 0, 0 /* ANSI_CHARSET */, 0, 0, 0, 0});
    std::string face = s.text("face").value_or("Arial");
    if (face.size() > 31) throw s.error(*s.find("face"), "face", "at most 31 characters");
    face.resize(32, '\0');
    b.insert(b.end(), face.begin(), face.end());
    return b;
}

// Keys "T.I": table T (0-7), index I.
std::map<std::pair<int, int>, std::string> textsOf(const std::string& path, const toml::table& root) {
    std::map<std::pair<int, int>, std::string> texts;
    const toml::node* n = root.get("texts");
    if (!n) return texts;
    if (!n->is_table())
        throw ProjectError(path + ":" + std::to_string(n->source().begin.line) + ": texts: expected a table");
    for (auto&& [key, node] : *n->as_table()) {
        std::string k(key.str());
        unsigned table = 0, index = 0;
        char tail = 0;
        if (std::sscanf(k.c_str(), "%u.%u%c", &table, &index, &tail) != 2 || table > 7 || index > 65534)
            throw ProjectError(path + ":" + std::to_string(node.source().begin.line) + ": texts." + k +
                               ": expected a key \"TABLE.INDEX\" with TABLE 0-7");
        if (!node.is_string())
            throw ProjectError(path + ":" + std::to_string(node.source().begin.line) + ": texts." + k +
                               ": expected a text");
        texts[{static_cast<int>(table), static_cast<int>(index)}] = node.as_string()->get();
    }
    return texts;
}

}  // namespace

std::string findDefaultsDir() {
    std::error_code ec;
    fs::path self = fs::canonical("/proc/self/exe", ec);
    if (!ec && fs::is_directory(self.parent_path() / "defaults")) return (self.parent_path() / "defaults").string();
#ifdef UPD_DEFAULTS_DIR
    if (fs::is_directory(UPD_DEFAULTS_DIR)) return UPD_DEFAULTS_DIR;
#endif
    return "";
}

std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path) {
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    return textsOf(path, root);
}

pkg::Bytes templateBlobOf(const std::string& path) {
    pkg::Bytes file = pkg::readFile(path);
    if (!pkg::isResourceFile(file)) return file;
    return pkg::templateBlobFromDialogs(pkg::dialogResources(file, path), path);
}

Project loadProject(const std::string& path) {
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " +
                           std::string(e.description()));
    }
    Project p;
    p.file = path;
    Section top(path, "", root, {"installer", "texts", "files"});
    if (const toml::table* t = top.subtable("installer")) {
        Section s(path, "installer", *t,
                  {"stub", "output", "start_page", "full_screen", "destination", "title", "title_font",
                   "frame_image", "background_image", "templates", "registry", "ini", "defaults", "versions"});
        if (auto v = s.existingFile("stub")) p.stub = *v;
        if (auto v = s.text("output")) p.output = s.resolve(*v).string();
        if (const toml::node* n = s.find("start_page")) {
            if (n->is_string() && n->as_string()->get() == "wizard")
                p.startPage = START_PAGE_WIZARD;
            else
                p.startPage = static_cast<uint16_t>(*s.integer("start_page", 0, 6));
        }
        p.fullScreen = s.boolean("full_screen").value_or(false);
        p.destination = s.text("destination");
        p.title = s.text("title");
        p.frameImage = s.existingFile("frame_image", true);
        p.backgroundImage = s.existingFile("background_image", true);
        p.useDefaults = s.boolean("defaults").value_or(true);
        if (const toml::node* n = s.find("versions")) {
            if (!n->is_array()) throw s.error(*n, "versions", "expected a list of folders");
            for (auto&& item : *n->as_array()) {
                if (!item.is_string()) throw s.error(item, "versions", "expected a list of folders");
                fs::path dir = s.resolve(item.as_string()->get());
                if (!fs::is_directory(dir)) throw s.error(item, "versions", "no such folder: " + dir.string());
                p.versions.push_back(dir.string());
            }
            if (p.versions.size() < 2) throw s.error(*n, "versions", "needs an old and a new version");
        }
        p.templates = s.existingFile("templates");
        if (const toml::table* f = s.subtable("title_font"))
            p.titleFont = logFont(Section(path, "installer.title_font", *f, {"face", "height", "weight", "italic"}));
        if (const toml::table* r = s.subtable("registry")) {
            Section rs(path, "installer.registry", *r, {"root", "key", "value"});
            p.hasRegistry = true;
            p.registryRoot = registryRootIndex(rs, "root");
            p.registryKey = rs.text("key").value_or("");
            p.registryValue = rs.text("value").value_or("");
        }
        if (const toml::table* r = s.subtable("ini")) {
            Section is(path, "installer.ini", *r, {"file", "section", "key"});
            p.hasIni = true;
            p.iniFile = is.text("file").value_or("");
            p.iniSection = is.text("section").value_or("");
            p.iniKey = is.text("key").value_or("");
        }
    }
    if (top.subtable("texts")) p.texts = textsOf(path, root);
    if (const toml::table* files = top.subtable("files")) {
        for (auto&& [key, node] : *files) {
            std::string rel(key.str());
            if (!node.is_table()) throw top.error(node, "files." + rel, "expected a table");
            Section f(path, "files." + rel, *node.as_table(), {"preserve", "unknown", "optional", "alt_folder"});
            pkg::FileRule rule;
            if (auto u = f.text("unknown")) {
                if (*u == "fail") rule.onUnknownVersion = UNK_FAIL;
                else if (*u == "skip") rule.onUnknownVersion = UNK_SKIP;
                else if (*u == "ask") rule.onUnknownVersion = UNK_ASK_FOLDER;
                else throw f.error(*f.find("unknown"), "unknown", "expected fail, skip or ask");
            }
            rule.optional = f.boolean("optional").value_or(false);
            rule.altSubfolder = f.text("alt_folder").value_or("");
            if (const toml::table* pr = f.subtable("preserve")) {
                Section ps(path, "files." + rel + ".preserve", *pr, {"pattern", "length"});
                pkg::Region r;
                std::string pattern = ps.text("pattern").value_or("");
                r.pattern.assign(pattern.begin(), pattern.end());
                r.length = static_cast<uint32_t>(ps.integer("length", 1, 0x7FFFFFFF).value_or(0));
                r.restore = true;
                rule.regions.push_back(r);
            }
            p.rules[rel] = rule;
        }
    }
    if (p.useDefaults) {
        p.defaultsDir = findDefaultsDir();
        if (p.defaultsDir.empty())
            throw ProjectError(path + ": the default layouts and texts (a \"defaults\" folder beside updpack) "
                                      "are missing; install them or set installer.defaults = false");
    }
    if (p.output.empty()) p.output = (fs::path(path).parent_path() / "setup.exe").string();
    return p;
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
    records.push_back(valueRecord(REC_OPTIONS, p.fullScreen ? OPT_FULL_SCREEN : 0));
    if (p.destination) records.push_back(textRecord(REC_DEST_DIR, *p.destination));
    if (p.hasRegistry) {
        records.push_back(valueRecord(REC_REG_ROOT, p.registryRoot));
        records.push_back(textRecord(REC_REG_KEY, p.registryKey));
        records.push_back(textRecord(REC_REG_VALUE, p.registryValue));
    }
    if (p.hasIni) {
        records.push_back(textRecord(REC_INI_FILE, p.iniFile));
        records.push_back(textRecord(REC_INI_SECTION, p.iniSection));
        records.push_back(textRecord(REC_INI_KEY, p.iniKey));
    }
    std::string frame = fallback(p.frameImage, "frame.bmp");
    if (!frame.empty()) records.push_back(bufferRecord(REC_FRAME_IMAGE, readFile(frame)));
    std::string background = fallback(p.backgroundImage, "background.bmp");
    if (!background.empty()) records.push_back(bufferRecord(REC_BACKGROUND_IMAGE, readFile(background)));
    if (p.title) records.push_back(textRecord(REC_TITLE, *p.title));
    if (p.titleFont) records.push_back(bufferRecord(REC_TITLE_FONT, *p.titleFont));
    std::map<std::pair<int, int>, std::string> texts;
    if (p.useDefaults) texts = loadTexts((defaults / "texts.toml").string());
    for (const auto& [at, text] : p.texts) texts[at] = text;  // the project's word wins
    std::vector<std::vector<std::string>> tables(8);
    for (const auto& [at, text] : texts) {
        auto& table = tables[at.first];
        if (table.size() <= static_cast<size_t>(at.second)) table.resize(at.second + 1);
        table[at.second] = text;
    }
    records.push_back(stringTablesRecord(tables));
    if (p.startPage != START_PAGE_WIZARD) records.push_back(startPageRecord(p.startPage));
    return records;
}

}  // namespace updpack
