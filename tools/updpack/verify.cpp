// updpack verify: proves an update installer against its old versions by
// running the installer's own engine (the sources the stub is built from,
// with the POSIX platform layer) over a copy of each old version folder.
//
// Per folder: copy it to a fresh temporary folder (the folder itself is only
// read), load the package from the installer, verifyInstallation with the
// copy as destination, then beginInstallation / installNextFile until done /
// finishInstallation, as the wizard's pages do. Then every entry of the file
// table is checked in the copy: the file equals the new version's byte for
// byte (its preserved regions blanked in both) and has the name the table
// gives it; a deleted file is gone; an optional file that was not there
// stays away, and so does one a skip rule left as it was; no ".$$" file is
// left. Files of the new version that need no entry must be there, equal
// too. A package whose version checksums were masked with another stub's
// binding key is named as such.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "engine/install.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "package/paths.h"
#include "engine/target.h"
#include "engine/verify.h"
#include "package/codepage.h"
#include "package/loader.h"
#include "package/native_messages.h"
#include "package/strings.h"
#include "pkg/codepage.h"
#include "pkg/filetable.h"
#include "pkg/names.h"
#include "pkg/update.h"
#include "pkg/stub.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

// Collects the per-file outcomes of a run.
std::vector<unsigned>* outcomeSink = nullptr;
void recordOutcome(void*, unsigned outcome, const char*) {
    if (outcomeSink) outcomeSink->push_back(outcome);
}

struct TempFolder {
    std::string path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "updverify-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string hex32(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

std::string bindingMessage(uint32_t foreign) {
    return "the package was built against a different stub: its version checksums are masked with "
           "binding key " + hex32(foreign) + ", but the stub in front of it gives " + hex32(state.bindingKey) +
           ", so the installer recognises no installed file";
}

// The entry's preserved regions as the packager describes them.
std::vector<pkg::Region> regionsOf(FileEntry* e) {
    std::vector<pkg::Region> list;
    PreservedRegion* r = entryRegions(e);
    for (uint32_t k = 0; k < e->regionCount; k++, r = nextRegion(r)) {
        pkg::Region region;
        region.length = r->length;
        region.offset = r->patternLength ? REGION_NOT_PRESENT : r->offset;
        region.pattern.assign(regionPattern(r), regionPattern(r) + r->patternLength);
        list.push_back(region);
    }
    return list;
}

std::string hexOffset(uint64_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

// "" when the result equals the new version's file byte for byte (regions
// blanked in both), else where they first differ.
std::string compareWithNew(const std::string& result, const std::string& expected,
                           const std::vector<pkg::Region>& regions) {
    pkg::Bytes a = pkg::readFile(result), b = pkg::readFile(expected);
    pkg::Bytes x = pkg::blankedCopy(a.data(), a.size(), regions), y = pkg::blankedCopy(b.data(), b.size(), regions);
    size_t common = std::min(x.size(), y.size());
    size_t at = std::mismatch(x.begin(), x.begin() + common, y.begin()).first - x.begin();
    if (at == common && x.size() == y.size()) return "";
    std::string why = "differs from the new version at offset " + hexOffset(at);
    if (x.size() != y.size())
        why += " (" + std::to_string(x.size()) + " bytes, the new version has " + std::to_string(y.size()) + ")";
    return why;
}

// Checks every entry of the table in the updated copy against the new
// version's folder; the first problem, or "". *skipped counts the files a
// skip rule left as they were.
std::string proveResult(EngineSession& session, const std::vector<int16_t>& before, const std::string& newFolder,
                        unsigned* problems, unsigned* skipped) {
    std::string first;
    auto fail = [&](const std::string& why) {
        if ((*problems)++ == 0) first = why;
    };
    std::set<std::string> covered;
    std::vector<FileEntry*> list = session.entries();
    for (size_t i = 0; i < list.size(); i++) {
        FileEntry* e = list[i];
        std::string path = session.targetOf(e);
        std::string rel = entryName(e, 0);
        covered.insert(pkg::nameKey(rel));
        std::error_code ec;
        bool exists = fs::is_regular_file(path, ec);
        if (e->action == ACT_DELETE) {
            if (exists && before[i] >= 0) fail(rel + ": should have been removed but is still there");
            continue;
        }
        if (before[i] == CV_NONE && e->onUnknownVersion == UNK_SKIP) {
            (*skipped)++;  // the rule says: leave an unknown version alone
            continue;
        }
        if (!exists) {
            if (before[i] == CV_ABSENT && e->presence != PRES_NEW) continue;  // optional, not installed
            fail(rel + ": missing after the update");
            continue;
        }
        std::replace(rel.begin(), rel.end(), '\\', '/');
        std::string wanted = fs::path(rel).filename().string();
        if (fs::path(path).filename().string() != wanted) {
            fail(rel + ": left with the name " + fs::path(path).filename().string() + ", not " + wanted);
            continue;
        }
        std::string expected = (fs::path(newFolder) / rel).string();
        if (!fs::is_regular_file(expected, ec)) {
            fail(rel + ": the new version's folder has no such file (is it the folder the installer was built from?)");
            continue;
        }
        std::string why = compareWithNew(path, expected, regionsOf(e));
        if (why.empty()) continue;
        if (before[i] == CV_NONE) why += " (its old content matched no known version and was left as it was)";
        fail(rel + ": " + why);
    }
    // Files no entry names are the same in every version the installer was
    // built from: they must be there, unchanged.
    pkg::FolderOptions follow;  // as a build with update.follow_links reads it
    follow.followLinks = true;
    follow.codePage = session.codePage();
    for (const auto& [rel, bytes] : pkg::scanFolder(newFolder, follow).files) {
        if (covered.count(pkg::nameKey(rel))) continue;
        std::string posix = rel;
        std::replace(posix.begin(), posix.end(), '\\', '/');
        std::string path = (fs::path(state.destinationDir) / posix).string();
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            fail(posix + ": missing (the installer has no entry for it: every old version should hold it)");
            continue;
        }
        std::string why = compareWithNew(path, (fs::path(newFolder) / posix).string(), {});
        if (!why.empty()) fail(posix + ": " + why + " (the installer has no entry for it)");
    }
    return first;
}

}  // namespace

Trial tryUpdate(const std::string& installer, const std::string& oldFolder, const std::string& newFolder) {
    Trial t;
    t.folder = oldFolder;
    std::error_code ec;
    if (!fs::is_directory(oldFolder, ec)) {
        t.failure = oldFolder + ": no such folder";
        return t;
    }
    TempFolder copy;
    // Links are copied as what they point to: the engine never writes
    // through a link out of the copy.
    fs::copy(oldFolder, copy.path, fs::copy_options::recursive, ec);
    if (ec) {
        t.failure = "cannot copy the folder: " + ec.message();
        return t;
    }
    EngineSession session(installer);
    session.setDestination(copy.path);
    std::vector<FileEntry*> list = session.entries();

    int verified = verifyInstallation();
    std::vector<int16_t> before;
    for (FileEntry* e : list) before.push_back(e->chosenVersion);
    std::string subject = shown(state.messageSubject);
    if (std::optional<uint32_t> foreign = foreignBindingKey(session)) {
        t.failure = bindingMessage(*foreign);
        return t;
    }
    if (verified != ERR_NONE && verified != ERR_NOTHING_TO_DO) {
        t.failure = "verification: " + describeResult(verified, subject);
        return t;
    }

    if (verified == ERR_NONE) {
        std::vector<unsigned> outcomes;
        outcomeSink = &outcomes;
        outcomeListener = recordOutcome;
        int code = ERR_NONE;
        int32_t failedAt = -1;
        if (beginInstallation() != ERR_NONE) {
            code = state.resultCode;
        } else {
            while (installNextFile(nullptr) == STEP_OK) {
            }
            if (state.resultCode != ERR_NONE) failedAt = state.currentEntryIndex;
            finishInstallation();
            code = finalResultCode();
        }
        outcomeListener = nullptr;
        outcomeSink = nullptr;
        for (unsigned o : outcomes) {
            if (o == OUT_REPLACED) t.updated++;
            if (o == OUT_CREATED) t.added++;
            if (o == OUT_DELETED) t.removed++;
        }
        if (code != ERR_NONE) {
            // The file in hand, unless the message names it anyway.
            FileEntry* failed = nullptr;
            if (failedAt >= 0 && size_t(failedAt) < list.size()) failed = list[size_t(failedAt)];
            for (FileEntry* e : list)
                if (!failed && e->outcome == OUT_NOT_REPLACED) failed = e;
            subject = shown(state.messageSubject);
            std::string where = failed ? shown(session.targetOf(failed)) : "";
            t.failure = (where.empty() || where == subject ? "" : where + ": ") + describeResult(code, subject);
            return t;
        }
    }

    unsigned problems = 0;
    std::string problem = proveResult(session, before, newFolder, &problems, &t.skipped);
    for (const auto& f : fs::recursive_directory_iterator(copy.path))
        if (f.path().filename().string().find(".$$") != std::string::npos && problems++ == 0)
            problem = fs::relative(f.path(), copy.path).string() + ": a temporary file was left behind";
    if (problems) {
        t.failure = problem;
        if (problems > 1) t.failure += " (and " + std::to_string(problems - 1) + " more files)";
        return t;
    }
    t.passed = true;
    return t;
}

int verify(const std::string& installer, const std::vector<std::string>& oldFolders, const std::string& newFolder) {
    { EngineSession probe(installer); }  // a package that does not load fails them all
    std::error_code ec;
    if (!fs::is_directory(newFolder, ec)) throw std::runtime_error(newFolder + ": no such folder");
    bool all = true;
    for (const std::string& old : oldFolders) {
        Trial t = tryUpdate(installer, old, newFolder);
        all = all && t.passed;
        std::string skipped = t.skipped ? ", " + std::to_string(t.skipped) + " left as they were (skip rule)" : "";
        std::printf("%s %s: %u updated, %u added, %u removed%s%s%s\n", t.passed ? "PASS" : "FAIL", old.c_str(),
                    t.updated, t.added, t.removed, skipped.c_str(), t.passed ? "" : ": ", t.failure.c_str());
    }
    std::fflush(stdout);
    return all ? COMMAND_OK : COMMAND_FAILED;
}

}  // namespace updpack
