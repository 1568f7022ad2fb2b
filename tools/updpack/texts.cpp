// The installer's texts in a project: the [texts] table, keys by number or
// by name, and the shipped defaults they fall back on (see
// updpack/project.h).
#include <cstdio>
#include <filesystem>

#include "engine/results.h"
#include "package/textnumbers.h"
#include "base/state.h"
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
        if (!named && (std::sscanf(k.c_str(), "%u.%u%c", &table, &index, &tail) != 2 || table >= TEXT_TABLE_COUNT || index > 65534))
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
        {"welcome_caption", PAGE_WELCOME, TEXT_PAGE_CAPTION},
        {"welcome_title", PAGE_WELCOME, TEXT_WELCOME_TITLE},
        {"welcome_text", PAGE_WELCOME, TEXT_WELCOME_TEXT},
        {"welcome_note", PAGE_WELCOME, TEXT_WELCOME_NOTE},
        {"welcome_hint", PAGE_WELCOME, TEXT_WELCOME_HINT},
        {"information_caption", PAGE_INFO, TEXT_PAGE_CAPTION},
        {"information_text", PAGE_INFO, TEXT_INFORMATION},
        {"destination_caption", PAGE_DESTINATION, TEXT_PAGE_CAPTION},
        {"destination_title", PAGE_DESTINATION, TEXT_DESTINATION_TITLE},
        {"destination_text", PAGE_DESTINATION, TEXT_DESTINATION_TEXT},
        {"destination_note", PAGE_DESTINATION, TEXT_DESTINATION_NOTE},
        {"destination_hint", PAGE_DESTINATION, TEXT_DESTINATION_HINT},
        {"ready_caption", PAGE_READY, TEXT_PAGE_CAPTION},
        {"ready_title", PAGE_READY, TEXT_READY_TITLE},
        {"ready_text", PAGE_READY, TEXT_READY_TEXT},
        {"ready_hint", PAGE_READY, TEXT_READY_HINT},
        {"progress_caption", PAGE_PROGRESS, TEXT_PAGE_CAPTION},
        {"progress_title", PAGE_PROGRESS, TEXT_PROGRESS_TITLE},
        {"progress_file_label", PAGE_PROGRESS, TEXT_PROGRESS_FILE_LABEL},
        {"progress_done_label", PAGE_PROGRESS, TEXT_PROGRESS_DONE_LABEL},
        {"finish_caption", PAGE_FINISH, TEXT_PAGE_CAPTION},
        {"finish_title", PAGE_FINISH, TEXT_FINISH_TITLE},
        {"finish_failed", PAGE_FINISH, TEXT_FINISH_FAILED},
        {"finish_up_to_date", PAGE_FINISH, TEXT_FINISH_UP_TO_DATE},
        {"finish_hint", PAGE_FINISH, TEXT_FINISH_HINT},
        {"caption", TABLE_MESSAGES, TEXT_CAPTION},
        {"browse_title", TABLE_MESSAGES, TEXT_BROWSE_TITLE},
        {"checking", TABLE_MESSAGES, TEXT_CHECKING},
        {"cancel_question", TABLE_MESSAGES, TEXT_CANCEL_QUESTION},
        {"leave_question", TABLE_MESSAGES, TEXT_LEAVE_QUESTION},
        {"locate_text", TABLE_MESSAGES, TEXT_LOCATE},
        {"newer_question", TABLE_MESSAGES, TEXT_NEWER_QUESTION},
        {"insert_disk", TABLE_MESSAGES, TEXT_INSERT_DISK},
        {"damaged_installer", TABLE_MESSAGES, TEXT_DAMAGED_INSTALLER},
        {"at_restart", TABLE_MESSAGES, OUT_AT_RESTART},
        {"path_too_long", TABLE_MESSAGES, ERR_PATH_TOO_LONG},
        {"restart_needed", TABLE_MESSAGES, ERR_RESTART_NEEDED},
        {"nothing_changed", TABLE_MESSAGES, TEXT_NOTHING_CHANGED},
        {"stop_question", TABLE_MESSAGES, TEXT_CANCEL_NOTHING_CHANGED},
        {"button_back", TABLE_BUTTONS, TEXT_BUTTON_BACK},
        {"button_next", TABLE_BUTTONS, TEXT_BUTTON_NEXT},
        {"button_cancel", TABLE_BUTTONS, TEXT_BUTTON_CANCEL},
        {"button_update", TABLE_BUTTONS, TEXT_BUTTON_UPDATE},
        {"button_ok", TABLE_BUTTONS, TEXT_BUTTON_OK},
        {"button_dialog_cancel", TABLE_BUTTONS, TEXT_BUTTON_DIALOG_CANCEL},
        {"switch_list", TABLE_MESSAGES, TEXT_SWITCH_LIST},
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
