// The installer's texts in a project: the [texts] table, keys by number or
// by name, and the shipped defaults they fall back on (see
// updpack/project.h).
#include <cstdio>
#include <filesystem>

#include "updpack/section.h"

namespace fs = std::filesystem;

namespace updpack {

// Keys "T.I" (table T 0-7, index I) or a name of textNames(). With `known`,
// a key that names no text of the installer is refused.
std::map<std::pair<int, int>, std::string> textsOf(const std::string& path, const toml::table& root,
                                                   const std::set<std::pair<int, int>>* known,
                                                   const pkg::CodePage* codePage) {
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

}  // namespace updpack
