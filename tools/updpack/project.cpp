#include "updpack/project.h"

#include <toml++/toml.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <set>

#include "pkg/names.h"
#include "pkg/peversion.h"
#include "pkg/picture.h"
#include "pkg/resources.h"
#include "pkg/stub.h"

extern char** environ;

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

    // A text the installer reads in its code page: refused at its line when
    // the code page cannot hold it.
    std::optional<std::string> ansiText(const std::string& key, const pkg::CodePage& codePage) const {
        std::optional<std::string> t = text(key);
        std::string why;
        if (t && !codePage.fromUtf8(*t, &why)) throw error(*find(key), key, why);
        return t;
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

uint8_t choice(const Section& s, const std::string& key, std::initializer_list<const char*> names,
               uint8_t fallback) {
    auto t = s.text(key);
    if (!t) return fallback;
    uint8_t i = 0;
    std::string all;
    for (const char* n : names) {
        if (*t == n) return i;
        all += (i ? ", " : "") + std::string(n);
        i++;
    }
    throw s.error(*s.find(key), key, "expected one of " + all);
}

// "0D0A 53 4e" -> bytes; spaces between bytes are allowed. Empty on a
// character that is no hex digit or an odd number of digits.
std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' && high < 0) continue;
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return {};
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return {};
    return out;
}

// "1.2.3.4" -> the two words of a fixed file version.
std::optional<pkg::FileVersion> versionOf(const std::string& text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 0xFFFF || b > 0xFFFF ||
        c > 0xFFFF || d > 0xFFFF)
        return std::nullopt;
    return pkg::FileVersion{a << 16 | b, c << 16 | d};
}

pkg::Region region(const std::string& file, const std::string& where, const toml::table& t) {
    Section s(file, where, t, {"pattern", "pattern_bytes", "offset", "length", "restore"});
    pkg::Region r;
    r.length = static_cast<uint32_t>(s.integer("length", 1, 0x7FFFFFFF).value_or(0));
    if (!r.length) throw ProjectError(file + ":" + std::to_string(t.source().begin.line) + ": " + where +
                                      ": a region needs a length");
    r.restore = s.boolean("restore").value_or(true);
    if (s.find("pattern") && s.find("pattern_bytes"))
        throw s.error(*s.find("pattern_bytes"), "pattern_bytes", "give pattern or pattern_bytes, not both");
    if (auto pattern = s.text("pattern")) {
        if (pattern->empty() || pattern->size() > 16384)
            throw s.error(*s.find("pattern"), "pattern", "1 to 16,384 characters");
        r.pattern.assign(pattern->begin(), pattern->end());
    } else if (auto hex = s.text("pattern_bytes")) {
        r.pattern = hexBytes(*hex);
        if (r.pattern.empty() || r.pattern.size() > 16384)
            throw s.error(*s.find("pattern_bytes"), "pattern_bytes",
                          "expected 1 to 16,384 bytes in hexadecimal, e.g. \"0D 0A 53 4E\"");
    } else if (auto offset = s.integer("offset", 0, 0x7FFFFFFF)) {
        r.offset = static_cast<int32_t>(*offset);
    } else {
        throw ProjectError(file + ":" + std::to_string(t.source().begin.line) + ": " + where +
                           ": a region needs a pattern or an offset");
    }
    return r;
}

UpdateSpec updateSpec(const std::string& file, const toml::table& t, const pkg::CodePage& codePage) {
    Section s(file, "update", t, {"old", "new", "volume_size", "difference_copies", "digest", "follow_links", "rule"});
    UpdateSpec u;
    u.line = static_cast<int>(t.source().begin.line);
    auto folder = [&](const toml::node& n, const std::string& key) {
        if (!n.is_string()) throw s.error(n, key, "expected a folder");
        fs::path p = s.resolve(n.as_string()->get());
        if (!fs::is_directory(p)) throw s.error(n, key, "no such folder: " + p.string());
        return p.string();
    };
    // A missing key is reported at the [update] line.
    std::string here = file + ":" + std::to_string(t.source().begin.line) + ": ";
    const toml::node* old = s.find("old");
    if (!old) throw ProjectError(here + "update.old: the earlier versions' folders are missing");
    if (!old->is_array()) throw s.error(*old, "old", "expected a list of folders");
    for (const toml::node& n : *old->as_array()) u.oldDirs.push_back(folder(n, "old"));
    if (u.oldDirs.empty())
        throw s.error(*old, "old", "lists no earlier version: an update needs at least one old version's folder");
    const toml::node* fresh = s.find("new");
    if (!fresh) throw ProjectError(here + "update.new: the new version's folder is missing");
    u.newDir = folder(*fresh, "new");
    u.volumeSize = static_cast<uint32_t>(s.integer("volume_size", 0, 0x7FFFFFFF).value_or(0));
    u.digest = s.boolean("digest").value_or(true);
    u.followLinks = s.boolean("follow_links").value_or(false);
    if (u.volumeSize && u.volumeSize < 2 * STUB_SIZE)
        throw s.error(*s.find("volume_size"), "volume_size", "0 or at least 131,072 bytes");
    u.differenceCopies = s.boolean("difference_copies").value_or(true);
    if (const toml::node* rules = s.find("rule")) {
        if (!rules->is_array_of_tables()) throw s.error(*rules, "rule", "expected [[update.rule]] tables");
        for (const toml::node& n : *rules->as_array()) {
            Section r(file, "update.rule", *n.as_table(),
                      {"files", "location", "unknown", "alternate", "optional", "regions", "delete", "version"});
            UpdateSpec::Rule rule;
            auto glob = r.text("files");
            if (!glob) throw ProjectError(file + ":" + std::to_string(n.source().begin.line) +
                                          ": update.rule.files: every rule names its files");
            rule.glob = *glob;
            rule.line = static_cast<int>(r.find("files")->source().begin.line);
            rule.rule.location = choice(r, "location", {"install", "windows", "shared"}, LOC_INSTALL_DIR);
            rule.rule.onUnknownVersion = choice(r, "unknown", {"fail", "skip", "ask"}, UNK_FAIL);
            rule.rule.altSubfolder = r.ansiText("alternate", codePage).value_or("");
            rule.rule.optional = r.boolean("optional").value_or(false);
            rule.remove = r.boolean("delete").value_or(false);
            if (auto v = r.text("version")) {
                if (*v == "none") {
                    rule.versionFromFile = false;
                } else if (*v != "auto") {
                    rule.rule.version = versionOf(*v);
                    if (!rule.rule.version)
                        throw r.error(*r.find("version"), "version",
                                      "expected \"auto\", \"none\" or four numbers 0-65535 like \"2.0.1.7\"");
                    rule.versionFromFile = false;
                }
            }
            if (const toml::node* regions = r.find("regions")) {
                if (!regions->is_array()) throw r.error(*regions, "regions", "expected a list of tables");
                for (const toml::node& g : *regions->as_array()) {
                    if (!g.is_table()) throw r.error(g, "regions", "expected a table");
                    rule.rule.regions.push_back(region(file, "update.rule.regions", *g.as_table()));
                }
            }
            u.rules.push_back(rule);
        }
    }
    return u;
}

// Keys "T.I" (table T 0-7, index I) or a name of textNames(). With `known`,
// a key that names no text of the installer is refused.
std::map<std::pair<int, int>, std::string> textsOf(const std::string& path, const toml::table& root,
                                                   const std::set<std::pair<int, int>>* known = nullptr,
                                                   const pkg::CodePage* codePage = nullptr) {
    std::map<std::pair<int, int>, std::string> texts;
    const toml::node* n = root.get("texts");
    if (!n) return texts;
    if (!n->is_table())
        throw ProjectError(path + ":" + std::to_string(n->source().begin.line) + ": texts: expected a table");
    for (auto&& [key, node] : *n->as_table()) {
        std::string k(key.str());
        std::string where = path + ":" + std::to_string(node.source().begin.line) + ": texts." + k + ": ";
        unsigned table = 0, index = 0;
        char tail = 0;
        bool named = false;
        for (const TextName& n : textNames())
            if (k == n.name) {
                table = static_cast<unsigned>(n.table);
                index = static_cast<unsigned>(n.index);
                named = true;
            }
        if (!named && (std::sscanf(k.c_str(), "%u.%u%c", &table, &index, &tail) != 2 || table > 7 || index > 65534))
            throw ProjectError(where + "expected a key \"TABLE.INDEX\" with TABLE 0-7, or a text's name");
        if (!node.is_string()) throw ProjectError(where + "expected a text");
        std::string why;
        if (codePage && !codePage->fromUtf8(node.as_string()->get(), &why)) throw ProjectError(where + why);
        if (known && !known->count({int(table), int(index)}))
            throw ProjectError(where + "no text " + std::to_string(table) + "." + std::to_string(index) +
                               " is shown by the installer (the defaults' texts.toml lists every one)");
        if (!texts.emplace(std::make_pair(int(table), int(index)), node.as_string()->get()).second)
            throw ProjectError(where + "text " + std::to_string(table) + "." + std::to_string(index) +
                               " is given twice");
    }
    return texts;
}

}  // namespace

const std::vector<TextName>& textNames() {
    // The texts a publisher most often rewords; every other text keeps its
    // "TABLE.INDEX" key (tools/defaults/texts.toml lists them all).
    static const std::vector<TextName> names = {
        {"welcome_caption", 0, 0},     {"welcome_title", 0, 1},       {"welcome_text", 0, 2},
        {"welcome_note", 0, 3},        {"welcome_hint", 0, 4},        {"information_caption", 1, 0},
        {"information_text", 1, 1},    {"destination_caption", 2, 0}, {"destination_title", 2, 1},
        {"destination_text", 2, 2},    {"destination_note", 2, 3},    {"destination_hint", 2, 4},
        {"ready_caption", 3, 0},       {"ready_title", 3, 1},         {"ready_text", 3, 2},
        {"ready_hint", 3, 3},          {"progress_caption", 4, 0},    {"progress_title", 4, 1},
        {"progress_file_label", 4, 2}, {"progress_done_label", 4, 3}, {"finish_caption", 5, 0},
        {"finish_title", 5, 1},        {"finish_failed", 5, 2},       {"finish_up_to_date", 5, 3},
        {"finish_hint", 5, 4},         {"caption", 6, 0},             {"browse_title", 6, 1},
        {"checking", 6, 4},            {"cancel_question", 6, 15},    {"leave_question", 6, 16},
        {"locate_text", 6, 30},        {"newer_question", 6, 31},     {"insert_disk", 6, 32},
        {"damaged_installer", 6, 33},  {"at_restart", 6, 34},         {"path_too_long", 6, 35},
        {"restart_needed", 6, 36},     {"nothing_changed", 6, 37},    {"stop_question", 6, 38},
        {"button_back", 7, 0},         {"button_next", 7, 1},
        {"button_cancel", 7, 2},       {"button_update", 7, 3},       {"button_ok", 7, 4},
        {"button_dialog_cancel", 7, 5},
        {"switch_list", 6, 39},
    };
    return names;
}

bool globMatches(const std::string& globText, const std::string& pathText) {
    // Character by character, each as Windows compares names (pkg::nameKey).
    const std::u32string glob = pkg::nameKeyChars(globText), path = pkg::nameKeyChars(pathText);
    size_t g = 0, p = 0, starG = std::u32string::npos, starP = 0;
    while (p < path.size()) {
        if (g < glob.size() && glob[g] == U'*') {
            starG = g++;
            starP = p;
        } else if (g < glob.size() && (glob[g] == U'?' ? path[p] != U'\\' : glob[g] == path[p])) {
            g++;
            p++;
        } else if (starG != std::u32string::npos && path[starP] != U'\\') {
            g = starG + 1;
            p = ++starP;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == U'*') g++;
    return g == glob.size();
}

std::map<std::string, pkg::FileRule> resolveRules(const UpdateSpec& update,
                                                  const std::vector<const pkg::FileSet*>& sets) {
    std::map<std::string, pkg::FileRule> rules;
    for (const pkg::FileSet* set : sets)
        for (const auto& [path, bytes] : *set) {
            if (rules.count(path)) continue;
            for (const auto& r : update.rules)
                if (globMatches(r.glob, path)) {
                    rules[path] = r.rule;
                    break;
                }
        }
    return rules;
}

void applyNewVersionRules(const UpdateSpec& update, pkg::FileSet& newSet,
                          std::map<std::string, pkg::FileRule>& rules) {
    for (auto it = newSet.begin(); it != newSet.end();) {
        const UpdateSpec::Rule* rule = nullptr;
        for (const auto& r : update.rules)
            if (globMatches(r.glob, it->first)) {
                rule = &r;
                break;
            }
        if (rule && rule->remove) {
            it = newSet.erase(it);
            continue;
        }
        if (!rule || rule->versionFromFile)
            if (auto version = pkg::peFileVersion(it->second)) rules[it->first].version = version;
        ++it;
    }
}

std::string findDefaultsDir() {
    std::error_code ec;
    fs::path self = fs::canonical("/proc/self/exe", ec);
    if (!ec && fs::is_directory(self.parent_path() / "defaults")) return (self.parent_path() / "defaults").string();
#ifdef UPD_DEFAULTS_DIR
    if (fs::is_directory(UPD_DEFAULTS_DIR)) return UPD_DEFAULTS_DIR;
#endif
    return "";
}

std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path) { return loadTexts(path, nullptr); }

std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path,
                                                     const std::set<std::pair<int, int>>* known,
                                                     const pkg::CodePage* codePage) {
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    return textsOf(path, root, known, codePage);
}

std::set<std::pair<int, int>> knownTexts() {
    std::set<std::pair<int, int>> known;
    std::string dir = findDefaultsDir();
    if (dir.empty()) return known;
    for (const auto& [at, text] : loadTexts(dir + "/texts.toml")) known.insert(at);
    return known;
}

std::string findWindres() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin";
    for (const char* name : {"x86_64-w64-mingw32-windres", "i686-w64-mingw32-windres", "windres"}) {
        size_t at = 0;
        while (at <= dirs.size()) {
            size_t end = dirs.find(':', at);
            if (end == std::string::npos) end = dirs.size();
            fs::path candidate = fs::path(dirs.substr(at, end - at)) / name;
            if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate.string();
            at = end + 1;
        }
    }
    return "";
}

namespace {

// A script is read as UTF-8 unless it names its code page itself: bytes
// that are no UTF-8 are refused at their line, before windres would turn
// them into other letters.
void checkScriptText(const std::string& path) {
    pkg::Bytes bytes = pkg::readFile(path);
    std::string text(bytes.begin(), bytes.end());
    if (text.find("#pragma code_page") != std::string::npos) return;
    size_t lineStart = 0;
    int line = 1;
    for (size_t at = 0; at <= text.size(); at++) {
        if (at < text.size() && text[at] != '\n') continue;
        if (!pkg::decodeUtf8(text.substr(lineStart, at - lineStart)))
            throw ProjectError(path + ":" + std::to_string(line) +
                               ": not UTF-8; save the layouts as UTF-8, or state their code page with "
                               "#pragma code_page(N)");
        lineStart = at + 1;
        line++;
    }
}

// Compiles a .rc script to .res bytes with windres; the script's folder is
// on the include path, so it may include files lying beside it.
pkg::Bytes compileScript(const std::string& path) {
    checkScriptText(path);
    std::string windres = findWindres();
    if (windres.empty())
        throw ProjectError(path + ": a .rc script needs a resource compiler (windres, in Debian's "
                                  "binutils-mingw-w64 and gcc-mingw-w64 packages); install one, or give a "
                                  "compiled .res instead");
    char temp[] = "/tmp/updpack-res-XXXXXX";
    int fd = mkstemp(temp);
    if (fd < 0) throw ProjectError(path + ": cannot create a temporary file for the compiled layouts");
    close(fd);
    std::string include = fs::path(path).parent_path().string();
    if (include.empty()) include = ".";
    // Code page 65001: the script's texts are UTF-8; the templates hold them
    // as UTF-16, whatever code page the installer's users run.
    std::vector<std::string> args = {windres, "-c", "65001", "-O", "res", "-I", include, path, "-o", temp};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    bool ran = posix_spawn(&pid, windres.c_str(), nullptr, nullptr, argv.data(), environ) == 0 &&
               waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    pkg::Bytes res;
    if (ran) res = pkg::readFile(temp);
    fs::remove(temp);
    if (!ran) throw ProjectError(path + ": " + windres + " could not compile the layouts (see its messages above)");
    return res;
}

}  // namespace

pkg::Bytes templateBlobOf(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".rc") return pkg::templateBlobFromDialogs(pkg::dialogResources(compileScript(path), path), path);
    pkg::Bytes file = pkg::readFile(path);
    if (!pkg::isResourceFile(file)) {
        pkg::checkTemplateBlob(file, path);
        return file;
    }
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
    if (installer) {
        if (auto v = s->existingFile("stub")) {
            p.stub = *v;
            p.stubLine = static_cast<int>(s->find("stub")->source().begin.line);
        }
        if (auto v = s->text("output")) {
            p.output = s->resolve(*v).string();
            p.outputLine = static_cast<int>(s->find("output")->source().begin.line);
        }
        if (const toml::node* n = s->find("start_page")) {
            if (n->is_string() && n->as_string()->get() == "wizard")
                p.startPage = START_PAGE_WIZARD;
            else
                p.startPage = static_cast<uint16_t>(*s->integer("start_page", 0, 6));
        }
        p.fullScreen = s->boolean("full_screen").value_or(false);
        p.allOrNothing = s->boolean("all_or_nothing").value_or(true);
        p.destination = s->ansiText("destination", p.codePage);
        // A macro stands at the start, between two '#'; the installer knows three.
        if (p.destination && !p.destination->empty() && (*p.destination)[0] == '#') {
            size_t close = p.destination->find('#', 1);
            std::string macro = close == std::string::npos ? "" : p.destination->substr(0, close + 1);
            bool known = false;
            for (const char* m : {"#Windows#", "#System#", "#Program Files#"})
                known = known || pkg::sameName(macro, m);
            if (!macro.empty() && !known)
                throw s->error(*s->find("destination"), "destination",
                              "unknown folder macro " + macro + "; the installer knows #Windows#, #System# and "
                              "#Program Files#");
        }
        p.title = s->ansiText("title", p.codePage);
        // A picture the installer could not draw is refused now, at its line.
        auto picture = [&](const char* key) {
            std::optional<std::string> file = s->existingFile(key, true);
            if (!file || file->empty()) return file;
            try {
                pkg::pictureAsBmp(pkg::readFile(*file), *file);
            } catch (const pkg::PictureError& e) {
                throw s->error(*s->find(key), key, e.what());
            }
            return file;
        };
        p.frameImage = picture("frame_image");
        p.backgroundImage = picture("background_image");
        if (auto v = s->existingFile("texts")) {
            p.textsFile = *v;
            loadTexts(p.textsFile, known.empty() ? nullptr : &known, &p.codePage);  // reported now, with its own lines
        }
        p.useDefaults = s->boolean("defaults").value_or(true);
        p.templates = s->existingFile("templates");
        if (const toml::table* f = s->subtable("title_font"))
            p.titleFont = logFont(Section(path, "installer.title_font", *f, {"face", "height", "weight", "italic"}),
                                  p.codePage);
        if (const toml::table* r = s->subtable("registry")) {
            Section rs(path, "installer.registry", *r, {"root", "key", "value"});
            p.hasRegistry = true;
            p.registryRoot = registryRootIndex(rs, "root");
            p.registryKey = rs.ansiText("key", p.codePage).value_or("");
            p.registryValue = rs.ansiText("value", p.codePage).value_or("");
        }
        if (const toml::table* r = s->subtable("ini")) {
            Section is(path, "installer.ini", *r, {"file", "section", "key"});
            p.hasIni = true;
            p.iniFile = is.ansiText("file", p.codePage).value_or("");
            p.iniSection = is.ansiText("section", p.codePage).value_or("");
            p.iniKey = is.ansiText("key", p.codePage).value_or("");
        }
    }
    if (top.subtable("texts")) p.texts = textsOf(path, root, known.empty() ? nullptr : &known, &p.codePage);
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
    return p;
}

bool isInside(const std::string& path, const std::string& folder) {
    fs::path p = fs::weakly_canonical(fs::absolute(path)), f = fs::weakly_canonical(fs::absolute(folder));
    auto [fe, pe] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
    return fe == f.end();
}

void checkRulesMatch(const Project& project, const std::vector<const pkg::FileSet*>& sets) {
    if (!project.update) return;
    for (const UpdateSpec::Rule& rule : project.update->rules) {
        bool matched = false;
        for (const pkg::FileSet* set : sets)
            for (const auto& [path, bytes] : *set) matched = matched || globMatches(rule.glob, path);
        if (!matched)
            throw ProjectError(project.file + ":" + std::to_string(rule.line) + ": update.rule.files: \"" + rule.glob +
                               "\" matches no file of any version");
    }
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
    std::vector<std::vector<std::string>> tables(8);
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
