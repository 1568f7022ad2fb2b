// updpack diagnose: what the installer's verification makes of an installed
// folder, file by file, without changing anything in it.
//
// verifyInstallation runs over the folder as the destination page runs it
// (the POSIX access test only looks), and records per entry the version it
// identified: an index into the entry's known versions, already current,
// absent, or none. Where it stops at a file (an unknown version with the
// "fail" rule, a missing required file), the stop is noted and the pass
// resumes behind that file, so every file gets its verdict. Given the old
// version folders, a known version is named by the folders whose copy has
// it, and an unknown file by the nearest old copy: the one that differs in
// the fewest bytes, with the differing byte ranges.
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "engine/results.h"
#include "engine/verify.h"
#include "pkg/stub.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

const int16_t NOT_SEEN = -100;  // chosenVersion before the pass reaches an entry

bool stopsThePass(int code) {
    return code != ERR_NONE && code != ERR_NOTHING_TO_DO && code != ERR_NOTHING_FOUND && code != ERR_DISK_SPACE;
}

std::string folderName(const std::string& folder) {
    fs::path p = fs::path(folder).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    std::string name = p.filename().string();
    return name.empty() ? folder : name;
}

std::string relativeFile(const FileEntry* e) {
    std::string rel = entryName(e, 0);
    for (char& c : rel)
        if (c == '\\') c = '/';
    return rel;
}

// Which listed version the old folder's copy of the file is, or -1.
int versionOfCopy(FileEntry* e, const std::string& path) {
    FileHandle file = openFile(path.c_str(), OPEN_READ);
    if (file == INVALID_FILE) return -1;
    FileProof proof;
    proveFile(e, file, &proof);
    closeFile(file);
    int16_t v = matchVersion(e, &proof);
    return v >= 0 ? v : -1;
}

std::string describeFinding(const Finding& f) {
    std::string text;
    if (f.chosenVersion >= 0) {
        text = "version " + std::to_string(f.chosenVersion);
        if (!f.folders.empty()) {
            text += " (";
            for (size_t i = 0; i < f.folders.size(); i++) text += (i ? ", " : "") + f.folders[i];
            text += ")";
        }
    } else if (f.chosenVersion == CV_CURRENT) {
        text = "current";
    } else if (f.chosenVersion == CV_ABSENT) {
        text = "absent";
    } else if (f.chosenVersion == NOT_SEEN) {
        text = "not examined";
    } else {
        text = "unknown";
        if (!f.nearest.empty()) {
            text += "; nearest " + f.nearest + ": " + std::to_string(f.differingBytes) +
                    (f.differingBytes == 1 ? " byte differs" : " bytes differ");
            const size_t SHOWN = 5;
            for (size_t i = 0; i < f.ranges.size() && i < SHOWN; i++) {
                char b[64];
                std::snprintf(b, sizeof b, "%s0x%llX+%llu", i ? ", " : " at ",
                              static_cast<unsigned long long>(f.ranges[i].offset),
                              static_cast<unsigned long long>(f.ranges[i].length));
                text += b;
            }
            if (f.ranges.size() > SHOWN)
                text += " (and " + std::to_string(f.ranges.size() - SHOWN) + (f.ranges.size() - SHOWN == 1 ? " more range)" : " more ranges)");
        }
    }
    return text;
}

}  // namespace

std::vector<ByteRange> differingRanges(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<ByteRange> ranges;
    size_t common = std::min(a.size(), b.size());
    auto add = [&](uint64_t offset, uint64_t length) {
        if (!ranges.empty() && ranges.back().offset + ranges.back().length == offset)
            ranges.back().length += length;
        else
            ranges.push_back({offset, length});
    };
    for (size_t i = 0; i < common;) {
        if (a[i] == b[i]) {
            i++;
            continue;
        }
        size_t start = i;
        while (i < common && a[i] != b[i]) i++;
        add(start, i - start);
    }
    size_t longer = std::max(a.size(), b.size());
    if (longer > common) add(common, longer - common);
    return ranges;
}

Diagnosis diagnoseFolder(const std::string& installer, const std::string& folder,
                         const std::vector<std::string>& oldFolders) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw std::runtime_error(folder + ": no such folder");
    for (const std::string& old : oldFolders)
        if (!fs::is_directory(old, ec)) throw std::runtime_error(old + ": no such folder");
    EngineSession session(installer);
    session.setDestination(folder);
    std::vector<FileEntry*> list = session.entries();
    for (FileEntry* e : list) e->chosenVersion = NOT_SEEN;

    Diagnosis d;
    d.result = verifyInstallation();
    d.resultText = describeResult(d.result, shown(state.messageSubject));
    std::vector<std::string> stops(list.size());
    int code = d.result;
    size_t start = 0;  // first entry of the pass that just ran
    while (stopsThePass(code)) {
        // The entry it stopped at: the first one not reached, when the
        // message names that file (it failed before being identified), else
        // the one before it (identified, then refused).
        std::string subject = state.messageSubject;
        size_t next = start;
        while (next < list.size() && list[next]->chosenVersion != NOT_SEEN) next++;
        bool before = next == list.size() || session.targetOf(list[next]) != subject;
        size_t at = before && next > start ? next - 1 : next;
        if (at >= list.size()) break;
        stops[at] = describeResult(code, shown(state.messageSubject), false);
        start = at + 1;
        if (start >= list.size()) break;
        state.firstEntry = list[start];
        state.entryCount = static_cast<uint32_t>(list.size() - start);
        code = verifyInstallation();
    }
    state.firstEntry = list.empty() ? nullptr : list[0];
    state.entryCount = static_cast<uint32_t>(list.size());
    // A required file that is missing stops the pass before it is marked.
    for (FileEntry* e : list)
        if (e->chosenVersion == NOT_SEEN && !fs::exists(session.targetOf(e), ec)) e->chosenVersion = CV_ABSENT;
    d.foreignKey = foreignBindingKey(session);

    for (size_t i = 0; i < list.size(); i++) {
        FileEntry* e = list[i];
        Finding f;
        f.path = entryName(e, 0);
        f.action = e->action == ACT_DELETE ? "delete" : (e->flags & FE_WHOLE_FILE) ? "whole" : "delta";
        f.chosenVersion = e->chosenVersion;
        f.stop = stops[i];
        std::string rel = relativeFile(e);
        if (f.chosenVersion >= 0) {
            for (const std::string& old : oldFolders)
                if (versionOfCopy(e, (fs::path(old) / rel).string()) == f.chosenVersion)
                    f.folders.push_back(folderName(old));
        } else if (f.chosenVersion == CV_NONE && !oldFolders.empty()) {
            std::string installed = session.targetOf(e);
            if (fs::is_regular_file(installed, ec)) {
                pkg::Bytes mine = pkg::readFile(installed);
                bool first = true;
                for (const std::string& old : oldFolders) {
                    fs::path theirs = fs::path(old) / rel;
                    if (!fs::is_regular_file(theirs, ec)) continue;
                    std::vector<ByteRange> ranges = differingRanges(mine, pkg::readFile(theirs.string()));
                    uint64_t bytes = 0;
                    for (const ByteRange& r : ranges) bytes += r.length;
                    if (first || bytes < f.differingBytes) {
                        first = false;
                        f.nearest = folderName(old);
                        f.differingBytes = bytes;
                        f.ranges = std::move(ranges);
                    }
                }
            }
        }
        d.files.push_back(std::move(f));
    }
    return d;
}

int diagnose(const std::string& installer, const std::string& folder, const std::vector<std::string>& oldFolders) {
    Diagnosis d = diagnoseFolder(installer, folder, oldFolders);
    std::printf("%s over %s: %s\n", installer.c_str(), folder.c_str(), d.resultText.c_str());
    if (d.foreignKey)
        std::printf("the package was built against a different stub (binding key %08X): no installed file "
                    "can be recognised\n", *d.foreignKey);
    size_t width = 4;
    for (const Finding& f : d.files) width = std::max(width, f.path.size());
    std::printf("%-*s  %-6s  %s\n", static_cast<int>(width), "file", "action", "found");
    // The wizard stops at the first refusal; later ones are what it would
    // refuse next, once that is mended.
    bool stopped = false;
    for (const Finding& f : d.files) {
        std::printf("%-*s  %-6s  %s\n", static_cast<int>(width), f.path.c_str(), f.action.c_str(),
                    describeFinding(f).c_str());
        if (!f.stop.empty())
            std::printf("%-*s  %-6s  %s: %s\n", static_cast<int>(width), "", "",
                        stopped ? "refused too" : "verification stops here", f.stop.c_str());
        stopped = stopped || !f.stop.empty();
    }
    std::fflush(stdout);
    return d.result == ERR_NONE || d.result == ERR_NOTHING_TO_DO ? COMMAND_OK : COMMAND_FAILED;
}

}  // namespace updpack
