// The update's files and rules: the [update] table with its [[update.rule]]
// tables and regions, and matching the rules' globs against the versions'
// files (see updpack/project.h).
#include <cstdio>
#include <filesystem>

#include "pkg/names.h"
#include "pkg/peversion.h"
#include "updpack/section.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

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

}  // namespace

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

}  // namespace updpack
