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
#include "pkg/differ.h"
#include "pkg/stub.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

bool sessionOpen = false;

void resetState() {
    state = InstallerState();
    state.dataFile = INVALID_FILE;
}

// Everything a session holds, given back; the state as at program start.
void closeSession() {
    if (!sessionOpen) return;
    finishInstallation();
    releasePackageData();
    releaseSessionBuffers();
    resetState();
    outcomeListener = nullptr;
    nameMatch = samePathIgnoringCase;
    leadByteFlags = nullptr;
    sessionOpen = false;
}

// Text buffers hold 259 characters; longer paths would be cut silently.
std::string fitPath(const std::string& path, const std::string& what) {
    if (path.size() > TEXT_MAX - 8)  // room for ".$$A" names and a volume suffix
        throw std::runtime_error(what + ": path longer than the installer's texts can hold (" +
                                 std::to_string(TEXT_MAX - 8) + " characters)");
    return path;
}

pkg::Bytes readHead(const std::string& path, size_t n) {
    std::ifstream in(path, std::ios::binary);
    pkg::Bytes head(n);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(n));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

struct CodeText {
    int code;
    const char* name;
    const char* text;  // "%s": the subject
};
// Our own wording of every result code (engine/results.h).
const CodeText CODE_TEXTS[] = {
    {ERR_NONE, "ERR_NONE", "no error"},
    {ERR_NOTHING_TO_DO, "ERR_NOTHING_TO_DO", "every file is current already: nothing to do"},
    {ERR_NOTHING_FOUND, "ERR_NOTHING_FOUND", "no file of the update was found in the folder"},
    {ERR_FILE_MISSING, "ERR_FILE_MISSING", "a file the update needs is missing: %s"},
    {ERR_UNKNOWN_VERSION, "ERR_UNKNOWN_VERSION", "the file matches no version the update knows: %s"},
    {ERR_ACCESS_DENIED, "ERR_ACCESS_DENIED", "the file cannot be read or replaced: %s"},
    {ERR_FILE_IN_USE, "ERR_FILE_IN_USE", "the file is in use: %s"},
    {ERR_DISK_SPACE, "ERR_DISK_SPACE", "not enough free space on the drive"},
    {ERR_NO_MEMORY, "ERR_NO_MEMORY", "out of memory"},
    {ERR_CANCELLED, "ERR_CANCELLED", "cancelled: a volume file could not be had"},
    {ERR_OPEN, "ERR_OPEN", "cannot open %s"},
    {ERR_CREATE, "ERR_CREATE", "cannot create the temporary file %s"},
    {ERR_READ, "ERR_READ", "cannot read %s (package data damaged, or a volume file missing)"},
    {ERR_WRITE, "ERR_WRITE", "cannot write %s"},
    {ERR_DISK_FULL, "ERR_DISK_FULL", "the disk is full"},
    {ERR_VERIFY, "ERR_VERIFY", "the rebuilt file does not have the checksum and size the package gives: %s"},
    {ERR_NOT_REPLACED, "ERR_NOT_REPLACED", "a file kept its old content (it could not be replaced)"},
    {ERR_PATH_TOO_LONG, "ERR_PATH_TOO_LONG", "a path is longer than 259 characters: %s"},
    {ERR_RESTART_NEEDED, "ERR_RESTART_NEEDED", "a file in use is replaced at the next restart"},
};

std::string substitute(const char* text, const std::string& subject) {
    std::string out = text;
    size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, subject);
    return out;
}

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

// The code page the package's texts and names are written in: its
// code-page record, else the default. The chain is walked by its headers
// only, within the file.
pkg::CodePage recordedCodePage(const std::string& path, uint32_t stubSize) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    uint64_t size = static_cast<uint64_t>(in.tellg()), pos = stubSize;
    std::optional<uint32_t> number;
    PackageRecordHeader h;
    while (pos + sizeof h <= size && in.seekg(static_cast<std::streamoff>(pos)) &&
           in.read(reinterpret_cast<char*>(&h), sizeof h) && h.tag != REC_FILE_DATA) {
        uint32_t value = 0;
        if (h.tag == REC_CODE_PAGE && h.length >= 4 && in.read(reinterpret_cast<char*>(&value), 4)) number = value;
        pos += sizeof h + uint64_t(h.length);
    }
    try {
        if (number) return pkg::CodePage(*number);
    } catch (const pkg::CodePageError&) {
    }
    return pkg::CodePage();
}

// Rewrites the loaded file table with its two names in UTF-8, as the
// version folders spell them; the rest of each entry moves with them.
void namesToUtf8(const pkg::CodePage& codePage) {
    pkg::Bytes table(FILE_TABLE_COUNT_SIZE);
    std::memcpy(table.data(), &state.entryCount, 4);
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(e);
        uint32_t names = entryNamesOffset(e);
        std::string first = entryName(e, 0), second = entryName(e, 1);
        uint32_t rest = names + static_cast<uint32_t>(first.size() + second.size() + 2);
        std::string converted = codePage.toUtf8(first) + '\0' + codePage.toUtf8(second) + '\0';
        int64_t grow = int64_t(converted.size()) - (rest - names);
        if (e->regionListOffset + grow > 0xFFFF)
            throw std::runtime_error("an entry's names take too many bytes in UTF-8 to be checked here");
        size_t at = table.size();
        table.insert(table.end(), p, p + names);
        table.insert(table.end(), converted.begin(), converted.end());
        table.insert(table.end(), p + rest, p + e->entrySize);
        FileEntry header;
        std::memcpy(&header, table.data() + at, sizeof header);
        header.entrySize = static_cast<uint32_t>(header.entrySize + grow);
        header.versionListOffset = static_cast<uint16_t>(header.versionListOffset + grow);
        header.regionListOffset = static_cast<uint16_t>(header.regionListOffset + grow);
        std::memcpy(table.data() + at, &header, sizeof header);
    }
    uint8_t* block = static_cast<uint8_t*>(allocBuffer(static_cast<uint32_t>(table.size())));
    if (!block) throw std::bad_alloc();
    std::memcpy(block, table.data(), table.size());
    freeBuffer(state.fileTable);
    state.fileTable = block;
    state.firstEntry = reinterpret_cast<FileEntry*>(block + FILE_TABLE_COUNT_SIZE);
}

// Names on the disk are found as Windows finds them (pkg::sameName).
bool sameNameOnDisk(const char* a, const char* b) { return pkg::sameName(a, b); }

pkg::CodePage sessionCodePage;
std::array<uint8_t, 256> sessionLeadBytes;

}  // namespace

std::string shown(const std::string& path) {
    std::string base = state.destinationDir ? state.destinationDir : "";
    if (!base.empty() && path.compare(0, base.size(), base) == 0) return path.substr(base.size());
    return path;
}

EngineSession::EngineSession(const std::string& installer) {
    if (sessionOpen) throw std::logic_error("one engine session at a time");
    std::string path = fitPath(fs::absolute(installer).lexically_normal().string(), installer);
    if (!fs::is_regular_file(path)) throw std::runtime_error(installer + ": no such file");
    pkg::Bytes head = readHead(path, STUB_SIZE);
    if (head.size() < STUB_SIZE)
        throw std::runtime_error(installer + ": not an installer (shorter than its 65,536-byte stub)");
    if (pkg::findStubHeader(head) < 0)
        throw std::runtime_error(installer + ": not an installer (no stub header in its first 65,536 bytes)");
    resetState();
    nativeMessages = NativeMessages();
    nativeMessageAnswer = BOX_OK;
    if (!allocateTextBuffers()) {
        releaseSessionBuffers();
        throw std::bad_alloc();
    }
    sessionOpen = true;
    copyText(state.sourcePath, path.c_str());
    sessionCodePage = recordedCodePage(path, STUB_SIZE);
    sessionLeadBytes = sessionCodePage.leadBytes();
    leadByteFlags = sessionLeadBytes.data();  // the loader checks the names as written
    std::string problem;
    if (!loadPackage()) {
        problem = installer + ": the package behind the stub does not load: it is incomplete or damaged";
        if (nativeMessages.count && nativeMessages.lastText[0])
            problem += " (the installer would say: \"" + sessionCodePage.toUtf8(nativeMessages.lastText) + "\")";
    } else if (!state.firstEntry) {
        problem = installer + ": the package holds no file table: it updates nothing";
    } else {
        namesToUtf8(sessionCodePage);
        leadByteFlags = nullptr;  // UTF-8 from here on: no byte of a character is a '\\'
        nameMatch = sameNameOnDisk;
    }
    if (!problem.empty()) {
        closeSession();
        throw std::runtime_error(problem);
    }
}

EngineSession::~EngineSession() { closeSession(); }

void EngineSession::setDestination(const std::string& folder) {
    std::string path = fitPath(fs::absolute(folder).lexically_normal().string(), folder);
    if (path.empty() || path.back() != '/') path += '/';
    copyText(state.destinationDir, path.c_str());
}

std::vector<FileEntry*> EngineSession::entries() const {
    std::vector<FileEntry*> list;
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) list.push_back(e);
    return list;
}

std::string EngineSession::targetOf(FileEntry* entry) const {
    resolveTarget(entry);
    return state.targetPath;
}

bool sumAsInstalled(FileEntry* entry, const std::string& path, uint32_t* size, uint32_t* sum) {
    FileHandle file = openFile(path.c_str(), OPEN_READ);
    if (file == INVALID_FILE) return false;
    *size = fileSize(file);
    *sum = checksumInstalledFile(entry, file);
    closeFile(file);
    return true;
}

std::string describeResult(int code, const std::string& subject, bool withPackageText) {
    std::string out;
    for (const CodeText& c : CODE_TEXTS)
        if (c.code == code) out = std::string(c.name) + ": " + substitute(c.text, subject);
    if (out.empty()) out = "result " + std::to_string(code);
    // "Nothing to do" has no message of its own: the finish page says it.
    if (withPackageText && code != ERR_NONE && code != ERR_NOTHING_TO_DO && sessionOpen) {
        std::string text = sessionCodePage.toUtf8(getString(6, static_cast<unsigned>(code)));
        if (!text.empty()) {
            char buffer[1024];
            expandText(buffer, sizeof buffer, text.c_str(), subject.c_str(), 0, false);
            out += std::string(" (the installer says: \"") + buffer + "\")";
        }
    }
    return out;
}

std::optional<uint32_t> foreignBindingKey(EngineSession& session) {
    std::set<uint32_t> keys;
    unsigned explained = 0;
    for (FileEntry* e : session.entries()) {
        if (e->versionCount == 0) continue;
        uint32_t size = 0, sum = 0;
        if (!sumAsInstalled(e, session.targetOf(e), &size, &sum)) continue;
        if (sum == e->newChecksum && size == e->newSize) continue;
        std::set<uint32_t> fits;
        const SourceVersion* versions = entryVersions(e);
        for (uint32_t k = 0; k < e->versionCount; k++) {
            if (versions[k].size != size) continue;
            if ((versions[k].maskedChecksum ^ state.bindingKey) == sum) return std::nullopt;  // recognised
            fits.insert(versions[k].maskedChecksum ^ sum);
        }
        if (fits.empty()) continue;  // changed beyond any known version: no evidence either way
        if (explained++ == 0) {
            keys = fits;
        } else {
            std::set<uint32_t> both;
            for (uint32_t k : keys)
                if (fits.count(k)) both.insert(k);
            keys.swap(both);
        }
    }
    // One file of a known size may match by chance; two that agree on a key do not.
    keys.erase(state.bindingKey);
    if (explained < 2 || keys.empty()) return std::nullopt;
    return *keys.begin();
}

namespace {

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
    follow.codePage = sessionCodePage;
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
        if (!beginInstallation()) {
            code = state.resultCode;
        } else {
            while (installNextFile(nullptr)) {
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
    return all ? 0 : 1;
}

}  // namespace updpack
