// verifyInstallation: the pass over the file table before an installation,
// and the drive queries it uses.
//
// One pass over the table, in order; the first entry that fails decides the
// result (engine/results.h). Per entry: resolve the target, open it,
// identify it by checksum and size, possibly look for an old copy in the
// alternate folder, and prove that the target can be replaced. At the end
// the space need is compared with the drive's free space. Opening, the
// access test and the drive query are the platform layer's
// (verify_win32.cpp, verify_posix.cpp); the checksum helpers are verify.cpp's.
//
// Beyond the plain design: a path (target, alternate copy, temporary name,
// journal) that does not fit 259 characters is refused with
// ERR_PATH_TOO_LONG naming it, never cut and used; FE_FROM_ALT_FOLDER is
// decided anew for each entry in each pass. An all-or-nothing run needs
// room for every temporary file at once and counts one more progress unit
// per entry for its replacement phase. The pass only reads: what a killed
// run left is undone by the destination page before it (recoverJournal).
#include "base/state.h"
#include "engine/journal.h"
#include "engine/results.h"
#include "engine/target.h"
#include "engine/verify.h"
#include "package/format.h"
#include "package/paths.h"
#include "package/strings.h"

// The root GetDiskFreeSpaceA wants: a UNC path as it is, "X:\" for a path
// with a drive letter, anything else unchanged.
static bool queryDrive(const char* path, uint32_t* clusterBytes, uint32_t* freeClusters) {
    char root[TEXT_CAPACITY];
    copyText(root, path);
    if (!(root[0] == '\\' && root[1] == '\\') && root[0] && root[1] == ':') {
        root[2] = '\\';
        root[3] = 0;
    }
    uint32_t spc = 0, bps = 0, total = 0;
    if (!diskFreeSpaceQuery(root, &spc, &bps, freeClusters, &total)) return false;
    *clusterBytes = spc * bps;
    return true;
}

int64_t freeSpaceKiB(const char* path) {
    uint32_t cluster = 0, freeClusters = 0;
    if (!queryDrive(path, &cluster, &freeClusters)) return -1;
    return static_cast<int64_t>(static_cast<uint64_t>(cluster) * freeClusters / 1024);
}

uint32_t clusterKiB(const char* path) {
    uint32_t cluster = 0, freeClusters = 0;
    if (!queryDrive(path, &cluster, &freeClusters)) return 32;
    return (cluster + 1023) / 1024;
}

// Proves the open file (and closes it) and records which version it is: the
// first listed old version that matches, else the new version, else none.
static void identify(FileEntry* entry, FileHandle file) {
    FileProof proof;
    proveFile(entry, file, &proof);
    closeFile(file);
    entry->chosenVersion = matchVersion(entry, &proof);
}

// Proofs against the table: both need the binding key of the running
// installer.
bool proofMatches(const FileEntry* entry, uint32_t slot, const FileProof* proof) {
    uint32_t sum = entry->newChecksum, size = entry->newSize;
    if (slot) {
        const SourceVersion* v = entryVersions(const_cast<FileEntry*>(entry)) + (slot - 1);
        sum = v->maskedChecksum ^ state.bindingKey;
        size = v->size;
    }
    return sum == proof->sum && size == proof->size &&
           (!(entry->flags & FE_HAS_DIGEST) || entryDigest(entry, slot) == proof->digest);
}

int16_t matchVersion(const FileEntry* entry, const FileProof* proof) {
    for (uint32_t k = 0; k < entry->versionCount; k++)
        if (proofMatches(entry, k + 1, proof)) return static_cast<int16_t>(k);
    return proofMatches(entry, 0, proof) ? CV_CURRENT : CV_NONE;
}

static uint64_t roundUp(uint64_t x, uint32_t unit) { return (x + unit - 1) & ~uint64_t(unit - 1); }

// ERR_PATH_TOO_LONG naming `path` when a text was cut since state.textCut was
// cleared; else ERR_NONE.
static int refuseCut(const char* path) {
    if (!state.textCut) return ERR_NONE;
    setMessageSubject(path);
    return ERR_PATH_TOO_LONG;
}

// What the pass has counted so far.
struct Tally {
    bool allOrNothing;
    uint32_t clusterBytes;
    bool nothingToDo;
    bool anyFound;
    uint32_t updateEntries;
    uint32_t maxNewSize;
    // Added files; in an all-or-nothing run every updated file too, as all
    // temporary files stand at once.
    uint64_t newFilesBytes;
};

// Acts on the identification of an entry's file (state.workPath, opened
// and identified): counts a known old version, or looks for an old copy in
// the alternate folder where the entry asks for one and identifies that in
// turn. *testAccess tells whether the target must prove it can be
// replaced. ERR_NONE, or the failure with messageSubject set.
static int settleVersion(FileEntry* entry, Tally& t, bool* testAccess) {
    for (;;) {
        if (entry->chosenVersion == CV_CURRENT) {
            if (!(entry->flags & FE_FROM_ALT_FOLDER)) return ERR_NONE;
            // A current copy elsewhere leaves the installed file unknown.
            setMessageSubject(state.targetPath);
            return ERR_UNKNOWN_VERSION;
        }
        if (entry->chosenVersion >= 0) {
            if (t.allOrNothing && entry->action != ACT_DELETE)
                t.newFilesBytes += roundUp(entry->newSize, t.clusterBytes);
            t.nothingToDo = false;
            if (entry->newSize > t.maxNewSize) t.maxNewSize = entry->newSize;
            *testAccess = true;
            return ERR_NONE;
        }
        if (entry->onUnknownVersion == UNK_FAIL) {
            setMessageSubject(state.workPath);
            return ERR_UNKNOWN_VERSION;
        }
        if (entry->onUnknownVersion != UNK_ASK_FOLDER) {  // UNK_SKIP and the rest
            *testAccess = entry->action == ACT_DELETE;
            return ERR_NONE;
        }
        // The alternate copy was tried already and did not match either.
        if (!samePathIgnoringCase(state.workPath, state.targetPath)) {
            setMessageSubject(state.workPath);
            return ERR_UNKNOWN_VERSION;
        }
        if (!state.alternateFolder[0] && !alternateFolderDialog(state.backgroundWindow)) {
            setMessageSubject(state.workPath);
            return ERR_UNKNOWN_VERSION;
        }
        copyText(state.workPath, state.alternateFolder);
        appendBackslash(state.workPath);
        appendText(state.workPath, entryName(entry, 1));
        appendBackslash(state.workPath);
        appendText(state.workPath, entryName(entry, 0));
        if (int r = refuseCut(state.workPath)) return r;
        if (samePathIgnoringCase(state.workPath, state.targetPath)) {
            setMessageSubject(state.workPath);
            return ERR_UNKNOWN_VERSION;
        }
        bool absent = false;
        FileHandle file = openForReading(state.workPath, &absent);
        if (file == INVALID_FILE) {
            setMessageSubject(state.workPath);
            return absent ? ERR_FILE_MISSING : ERR_ACCESS_DENIED;
        }
        entry->flags |= FE_FROM_ALT_FOLDER;
        identify(entry, file);
    }
}

// One entry of the pass: its target resolved, opened and identified, and
// counted. ERR_NONE, or the failure with messageSubject set.
static int verifyEntry(FileEntry* entry, Tally& t) {
    state.textCut = 0;
    entry->flags &= ~FE_FROM_ALT_FOLDER;
    int found = resolveTarget(entry);
    copyText(state.workPath, state.targetPath);
    temporaryName();  // its temporary name must fit as well
    if (int r = refuseCut(state.targetPath)) return r;
    state.totalKiB += (entry->newSize >> 10) + 1 + (t.allOrNothing ? 1 : 0);
    if (entry->presence != PRES_NEW && entry->action != ACT_DELETE) t.updateEntries++;

    // A shared file the version API reports in use is there and held: say
    // so now rather than take its folder for a missing file.
    if (found != ERR_NONE) {
        setMessageSubject(state.targetPath);
        return found;
    }

    bool absent = false;
    FileHandle file = openForReading(state.workPath, &absent);
    if (file == INVALID_FILE) {
        if (!absent) {
            setMessageSubject(state.workPath);
            return ERR_ACCESS_DENIED;
        }
        if (entry->presence == PRES_REQUIRED) {
            setMessageSubject(state.workPath);
            return ERR_FILE_MISSING;
        }
        if (entry->presence == PRES_NEW) {
            t.nothingToDo = false;
            t.newFilesBytes += roundUp(entry->newSize, t.clusterBytes);
        }
        entry->chosenVersion = CV_ABSENT;
        return ERR_NONE;
    }
    t.anyFound = true;
    identify(entry, file);

    bool testAccess = false;
    if (int r = settleVersion(entry, t, &testAccess)) return r;
    return testAccess ? accessTest(state.targetPath) : ERR_NONE;
}

int verifyInstallation() {
    Tally t = {(state.options & OPT_ALL_OR_NOTHING) != 0, 0, true, false, 0, 0, 0};
    int64_t freeKiB = freeSpaceKiB(state.destinationDir);
    t.clusterBytes = clusterKiB(state.destinationDir) * 1024;
    state.attributesChanged = 0;
    state.totalKiB = 0;
    if (t.allOrNothing) {
        state.textCut = 0;
        journalPath(state.workPath);
        if (int r = refuseCut(state.workPath)) return r;
    }
    FileEntry* entry = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, entry = nextEntry(entry))
        if (int r = verifyEntry(entry, t)) return r;

    if (freeKiB != -1) {
        // One rebuilt file at a time, unless all were counted above.
        uint64_t need = ((t.allOrNothing ? 0 : roundUp(t.maxNewSize, t.clusterBytes)) + t.newFilesBytes) / 1024;
        if (need >= static_cast<uint64_t>(freeKiB)) return ERR_DISK_SPACE;
    }
    if (t.anyFound || t.updateEntries == 0) return t.nothingToDo ? ERR_NOTHING_TO_DO : ERR_NONE;
    return ERR_NOTHING_FOUND;
}
