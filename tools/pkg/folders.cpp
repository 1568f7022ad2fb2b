// Reads a version folder (see pkg/update.h).
#include <filesystem>
#include <set>
#include <stdexcept>
#include <system_error>

#include "pkg/names.h"
#include "pkg/stub.h"
#include "pkg/update.h"

namespace pkg {

namespace {

namespace fs = std::filesystem;

class FolderReader {
public:
    FolderReader(const std::string& root, const FolderOptions& options) : root_(root), options_(options) {}

    void walk(const fs::path& dir, const std::string& relDir, Folder& out) {
        std::error_code ec;
        if (options_.followLinks) {
            fs::path real = fs::canonical(dir, ec);
            if (!ec && !walked_.insert(real.string()).second)
                fail(relDir, "its symbolic links lead round in a loop");
        }
        fs::directory_iterator it(dir, ec), end;
        if (ec) fail(relDir, "cannot read the folder: " + ec.message());
        bool holdsSomething = false;
        for (; it != end; it.increment(ec)) {
            if (ec) fail(relDir, "cannot read the folder: " + ec.message());
            std::string name = it->path().filename().string();
            std::string rel = relDir.empty() ? name : relDir + "\\" + name;
            std::string problem = windowsNameProblem(name);
            if (!problem.empty()) fail(rel, "Windows cannot hold this name: " + problem);
            std::optional<std::string> ansi = rel;
            if (options_.codePage) ansi = options_.codePage->fromUtf8(rel, &problem);
            if (!ansi) fail(rel, "the installer cannot write this name: " + problem);
            auto [seen, fresh] = keys_.emplace(nameKey(rel), rel);
            if (!fresh) fail(rel, "differs from " + seen->second + " only in case; Windows holds one of them");
            fs::file_status status = it->symlink_status(ec);
            if (fs::is_symlink(status)) {
                std::string target = fs::read_symlink(it->path(), ec).string();
                if (!options_.followLinks)
                    fail(rel, "a symbolic link (to " + target +
                                  "); set update.follow_links = true to store what it points to under its own name");
                status = fs::status(it->path(), ec);
                if (!fs::exists(status)) fail(rel, "a broken symbolic link (to " + target + ")");
            }
            holdsSomething = true;
            if (fs::is_directory(status)) {
                walk(it->path(), rel, out);
            } else if (fs::is_regular_file(status)) {
                if (ansi->size() > RELATIVE_PATH_BUDGET)  // bytes, as the installer counts them
                    fail(rel, std::to_string(ansi->size()) +
                                  (options_.codePage && options_.codePage->doubleByte()
                                       ? " bytes in code page " + std::to_string(options_.codePage->number())
                                       : std::string(" characters")) +
                                  "; relative paths may have at most " +
                                  std::to_string(RELATIVE_PATH_BUDGET) + ", so that they fit below an installation "
                                  "folder of " + std::to_string(DESTINATION_BUDGET) + " characters");
                out.files[rel] = readFile(it->path().string());
            } else {
                fail(rel, "neither a file nor a folder (a device, pipe or socket)");
            }
        }
        if (!holdsSomething && !relDir.empty()) out.emptyFolders.push_back(relDir);
    }

private:
    [[noreturn]] void fail(const std::string& rel, const std::string& why) const {
        throw std::runtime_error(root_ + (rel.empty() ? "" : ": " + rel) + ": " + why);
    }

    std::string root_;
    FolderOptions options_;
    std::map<std::string, std::string> keys_;  // nameKey -> the name as found
    std::set<std::string> walked_;             // folders walked, when links are followed
};

}  // namespace

Folder scanFolder(const std::string& folder, const FolderOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw std::runtime_error(folder + ": no such folder");
    Folder out;
    FolderReader(folder, options).walk(folder, "", out);
    std::sort(out.emptyFolders.begin(), out.emptyFolders.end());
    return out;
}

FileSet readFolder(const std::string& folder) { return scanFolder(folder).files; }

}  // namespace pkg
