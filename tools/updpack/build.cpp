// updpack build: writes the installer (and its volume files) a project
// describes, and prints what went into it.
//
// While the files are diffed and compressed, a progress line on stderr says
// which file is being worked on, how many work items of how many are done and
// how many bytes; it is drawn only when stderr is a terminal, so logs and
// pipes see nothing of it. The summary goes to stdout: one block per file
// (its old versions, what each costs in the package), then the totals.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "pkg/stub.h"
#include "updpack/commands.h"
#include "updpack/project.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

std::string defaultStub() {
    // The shipped stub lies beside the tool in the distribution folder.
    fs::path self = fs::canonical("/proc/self/exe");
    return (self.parent_path() / "updstub-i686.exe").string();
}

std::string megabytes(uint64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(n) / 1e6);
    return text;
}

// Characters of a UTF-8 text (its bytes that begin one).
size_t characters(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// Keeps the end of a path, which names the file: "...s\deep\name.dll";
// counted in characters, never cutting one apart.
std::string fitted(const std::string& text, size_t width) {
    size_t n = characters(text);
    if (n <= width) return text;
    size_t at = 0;
    for (size_t drop = n - (width - 3); drop; drop -= (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) at++;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) at++;
    return "..." + text.substr(at);
}

// fitted, padded to `width` characters: a column of the summary.
std::string column(const std::string& text, size_t width) {
    std::string out = fitted(text, width);
    return out + std::string(width - std::min(width, characters(out)), ' ');
}

// The progress line on a terminal: redrawn in place at most 20 times a second
// (and for the last item), erased when the work is done.
class ProgressLine {
public:
    ProgressLine() : shown_(isatty(fileno(stderr))) {
        winsize size{};
        if (shown_ && ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col >= 40)
            width_ = std::min<size_t>(size.ws_col - 1, 100);
    }
    ~ProgressLine() { clear(); }

    void update(const pkg::BuildProgress& p) {
        if (!shown_) return;
        auto now = std::chrono::steady_clock::now();
        if (p.itemsDone != p.itemsTotal && drawn_ && now - last_ < std::chrono::milliseconds(50)) return;
        last_ = now;
        drawn_ = true;
        const size_t barWidth = 20;
        size_t filled = p.bytesTotal ? size_t(barWidth * p.bytesDone / p.bytesTotal) : barWidth;
        std::string line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "] " +
                           std::to_string(p.itemsDone) + "/" + std::to_string(p.itemsTotal) + "  " +
                           megabytes(p.bytesDone) + " of " + megabytes(p.bytesTotal) + "  " + p.step + " ";
        if (line.size() + 10 < width_) line += fitted(p.path, width_ - line.size());
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
    }

    void clear() {
        if (!drawn_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
    size_t width_ = 80;
    std::chrono::steady_clock::time_point last_;
};

const char* actionOf(const pkg::TableEntry& e) {
    if (e.deleteFile) return "delete";
    if (e.presence == PRES_NEW) return "created";
    return e.wholeFile ? "whole" : "delta";
}

// "1.0, 1.1" for the old sets, named by their folders.
std::string setNames(const std::vector<size_t>& sets, const std::vector<std::string>& names) {
    std::string out;
    for (size_t s : sets) out += (out.empty() ? "" : ",") + names[s];
    return out;
}

// The summary: one line per old version of each file (the first carrying the
// file's name, action and new size), at most 100 columns.
void printSummary(const pkg::BuiltUpdate& update, const std::vector<std::string>& oldNames,
                  const std::string& output) {
    const char* row = "%s %-7s %11s  %s %11s %13s\n";
    std::printf(row, column("file", 34).c_str(), "action", "new size", column("old version", 14).c_str(), "old size",
                "stored bytes");
    size_t counts[4] = {0, 0, 0, 0};  // delta, whole, created, delete
    size_t differenceEntries = 0;
    uint64_t deltaBytes = 0, wholeBytes = 0;
    for (size_t i = 0; i < update.entries.size(); i++) {
        const pkg::TableEntry& e = update.entries[i];
        const pkg::EntryCost& c = update.costs[i];
        std::string action = actionOf(e);
        counts[action == "delta" ? 0 : action == "whole" ? 1 : action == "created" ? 2 : 3]++;
        if (e.differenceCopies) differenceEntries++;
        (e.wholeFile ? wholeBytes : deltaBytes) += c.storedBytes;
        std::string name = column(e.relativePath, 34), none = column("", 34);
        std::string newSize = e.deleteFile ? "-" : grouped(e.newSize);
        bool first = true;
        for (size_t v = 0; v < e.versions.size(); v++) {
            if (e.versions[v].size == 0xFFFFFFFFu) continue;  // the stand-in version of a created file
            std::string stored = e.deleteFile ? "-"
                                 : e.wholeFile && !first ? "(shared)"
                                                         : grouped(c.versionBytes[v]);
            std::printf(row, first ? name.c_str() : none.c_str(), first ? action.c_str() : "",
                        first ? newSize.c_str() : "", column(setNames(c.versionSets[v], oldNames), 14).c_str(),
                        grouped(e.versions[v].size).c_str(), stored.c_str());
            first = false;
        }
        if (!c.absentFrom.empty())
            std::printf(row, first ? name.c_str() : none.c_str(), first ? action.c_str() : "",
                        first ? newSize.c_str() : "", column(setNames(c.absentFrom, oldNames), 14).c_str(), "(absent)",
                        e.deleteFile ? "-" : first ? grouped(c.storedBytes).c_str() : "");
    }
    std::string withDifference =
        differenceEntries ? " (" + std::to_string(differenceEntries) + " with difference copies)" : "";
    std::printf("\n%zu entries: %zu delta%s, %zu whole, %zu created, %zu deleted; "
                "deltas %s bytes, whole files %s bytes\n",
                update.entries.size(), counts[0], withDifference.c_str(), counts[1], counts[2], counts[3],
                grouped(deltaBytes).c_str(), grouped(wholeBytes).c_str());
    size_t volumeBytes = 0;
    for (const auto& v : update.volumes) volumeBytes += v.size();
    std::printf("installer %s: %s bytes (stub %s, records %s, data %s)\n", output.c_str(),
                grouped(update.installer.size()).c_str(), grouped(STUB_SIZE).c_str(),
                grouped(update.installer.size() - STUB_SIZE - FILE_DATA_PREFIX - update.installerDataSize).c_str(),
                grouped(update.installerDataSize).c_str());
    std::printf("data area: %s bytes", grouped(update.dataSize).c_str());
    if (!update.volumes.empty())
        std::printf(", %s in the installer, %s in %zu volume file%s", grouped(update.installerDataSize).c_str(),
                    grouped(volumeBytes - DATA_SIZE_WORD * update.volumes.size()).c_str(), update.volumes.size(),
                    update.volumes.size() == 1 ? "" : "s");
    std::printf("\n");
    for (size_t k = 0; k < update.volumes.size(); k++)
        std::printf("  volume %02zu: %s bytes\n", k + 1, grouped(update.volumes[k].size()).c_str());
}

std::string folderName(const std::string& dir) {
    fs::path p = fs::path(dir).lexically_normal();
    std::string name = p.filename().string();
    return name.empty() ? p.parent_path().filename().string() : name;
}

int buildUpdate(const updpack::Project& project, const pkg::Bytes& stub, const std::string& output, unsigned jobs) {
    const updpack::UpdateSpec& u = *project.update;
    pkg::FolderOptions folderOptions;
    folderOptions.followLinks = u.followLinks;
    folderOptions.codePage = project.codePage;
    std::vector<pkg::FileSet> oldSets;
    std::vector<std::string> oldNames;
    for (const auto& dir : u.oldDirs) {
        oldSets.push_back(pkg::scanFolder(dir, folderOptions).files);
        oldNames.push_back(folderName(dir));
    }
    pkg::Folder fresh = pkg::scanFolder(u.newDir, folderOptions);
    pkg::FileSet newSet = std::move(fresh.files);
    std::vector<const pkg::FileSet*> all = {&newSet};
    for (const auto& set : oldSets) all.push_back(&set);
    updpack::checkRulesMatch(project, all);
    std::vector<std::string> warnings;
    for (size_t k = 0; k < oldSets.size(); k++)
        if (oldSets[k] == newSet)
            warnings.push_back("the old version " + u.oldDirs[k] + " holds the same files as the new version " +
                               u.newDir + ": the installer has nothing to do for it");
    for (const std::string& empty : fresh.emptyFolders)
        warnings.push_back(folderName(u.newDir) + ": the empty folder " + empty +
                           " is not created by the installer (it creates only the folders of files)");
    pkg::UpdateOptions options;
    options.records = updpack::projectRecords(project);
    options.volumeSize = u.volumeSize;
    options.differenceCopies = u.differenceCopies;
    options.digest = u.digest;
    options.codePage = project.codePage;
    options.oldNames = oldNames;
    options.rules = updpack::resolveRules(u, all);
    updpack::applyNewVersionRules(u, newSet, options.rules);
    options.jobs = jobs;
    ProgressLine progress;
    options.progress = [&](const pkg::BuildProgress& p) { progress.update(p); };
    pkg::BuiltUpdate update = pkg::buildUpdateFromSets(oldSets, newSet, stub, options);
    progress.clear();
    pkg::writeUpdate(update, output);
    printSummary(update, oldNames, output);
    for (const std::string& note : update.notes) std::printf("note: %s\n", note.c_str());
    std::fflush(stdout);
    for (const std::string& warning : warnings) std::fprintf(stderr, "updpack: warning: %s\n", warning.c_str());
    return COMMAND_OK;
}

}  // namespace

int build(const std::string& projectPath, std::string output, std::string stubPath, unsigned jobs) {
    updpack::Project project = updpack::loadProject(projectPath);
    if (!project.update)
        throw updpack::ProjectError(projectPath + ": update: the project has no [update] table, so its installer "
                                    "would update nothing; name the old and new versions' folders there");
    bool stubFromProject = stubPath.empty() && !project.stub.empty();
    if (stubPath.empty()) stubPath = project.stub.empty() ? defaultStub() : project.stub;
    if (output.empty()) output = project.output;
    for (const std::string& folder : project.update->oldDirs)
        if (updpack::isInside(output, folder))
            throw std::runtime_error(output + ": inside the version folder " + folder +
                                     "; the next build would pack the installer: write it elsewhere");
    if (updpack::isInside(output, project.update->newDir))
        throw std::runtime_error(output + ": inside the version folder " + project.update->newDir +
                                 "; the next build would pack the installer: write it elsewhere");
    pkg::Bytes stub;
    try {
        stub = pkg::loadStub(stubPath);
    } catch (const std::runtime_error& e) {
        if (!stubFromProject) throw;
        throw updpack::ProjectError(projectPath + ":" + std::to_string(project.stubLine) + ": installer.stub: " +
                                    e.what());
    }
    return buildUpdate(project, stub, output, jobs);
}

}  // namespace updpack
