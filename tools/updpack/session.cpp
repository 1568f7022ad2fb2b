// The installer's engine run natively over a package (see
// updpack/verify.h): loading it as the stub does, the names in UTF-8, the
// result texts.
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
    if (loadPackage() != LOAD_OK) {
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

const pkg::CodePage& EngineSession::codePage() const { return sessionCodePage; }

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

}  // namespace updpack
