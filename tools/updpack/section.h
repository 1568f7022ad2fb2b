// Reading the project's TOML: a table that refuses keys it does not know
// and turns every value into what updpack takes, with ProjectError naming
// the file, the line and the key; and the readers of the project's parts
// (updpack/rules.cpp, updpack/texts.cpp).
#pragma once
#include <toml++/toml.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "pkg/codepage.h"
#include "updpack/project.h"

namespace updpack {

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
        std::filesystem::path p = resolve(*t);
        if (!std::filesystem::is_regular_file(p)) throw error(*find(key), key, "no such file: " + p.string());
        return p.string();
    }

    std::filesystem::path resolve(const std::string& p) const {
        std::filesystem::path path(p);
        return path.is_absolute() ? path : std::filesystem::path(file_).parent_path() / path;
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

// The [update] table.
UpdateSpec updateSpec(const std::string& file, const toml::table& t, const pkg::CodePage& codePage);

// Keys "T.I" (table T 0-7, index I) or a name of textNames(). With `known`,
// a key that names no text of the installer is refused.
std::map<std::pair<int, int>, std::string> textsOf(const std::string& path, const toml::table& root,
                                                   const std::set<std::pair<int, int>>* known = nullptr,
                                                   const pkg::CodePage* codePage = nullptr);

}  // namespace updpack
