// installNextFile and the helpers of one installation step.
//
// Data of an entry: the chosen SourceVersion's dataOffset counts over all
// volumes together. Delta entries hold two streams there (engine/delta.h),
// and a difference stream behind them with FE_DIFFERENCE_COPIES, read a
// chunk at a time (engine/difference.h); whole-file entries one compressed
// stream of packedSize bytes.
//
// Deviations from the plain design, each closing a hole it leaves:
// - the final check compares the size with newSize too (the checksum cannot
//   see leading zero words), and the digest where the entry has one;
// - a delta is checked whole before anything is written (its inserts and
//   copies must make exactly newSize), a whole file may not grow past
//   newSize, and bad commands, broken compressed bodies and streams that
//   decode short stop the file with ERR_READ at once;
// - the rebuilt file is flushed to the disk before it replaces anything
//   (replace_win32.cpp never deletes the old target first);
// - the temporary file is created new, stepping its last letter while the
//   name is taken: a file the installer did not create is never touched;
// - a path that does not fit 259 characters stops the run with
//   ERR_PATH_TOO_LONG instead of being cut and used;
// - a delete entry does not move the data file (it reads nothing), so it
//   never asks for a volume, and one that lists versions deletes only a
//   file verification identified as one of them.
//
// All-or-nothing runs (OPT_ALL_OR_NOTHING) build in two phases. The first
// builds and proves every new file under its temporary name and records
// its letter in state.stagedLetters; deletions wait, and everything created
// is journalled first (journal.h). When the table is done, one call replaces
// the targets and deletes the files in table order and reports them. A
// failure or Cancel before that ends in finishInstallation, which undoes the
// journal: every installed file stays exactly as it was.
#include "engine/install.h"

#include <string.h>

#include "engine/datafile.h"
#include "engine/delta.h"
#include "engine/difference.h"
#include "engine/journal.h"
#include "package/paths.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "engine/target.h"
#include "engine/verify.h"
#include "package/inflate.h"
#include "package/strings.h"
#include "base/state.h"

ProgressListener progressListener = 0;

static void setProgress(uint32_t percent) {
    if (percent > 100) percent = 100;
    if (progressListener) progressListener(percent);
}

int failStep(int code, const char* subject) {
    if (subject) setMessageSubject(subject);
    state.resultCode = code;
    return code;
}

// ---- One step ----

namespace {

uint32_t percentDone() { return state.totalKiB ? state.processedKiB * 100 / state.totalKiB : 0; }

// Writes the decoder's output, never more than the new file's size, and
// remembers why a write failed (WRITE_OVER: the stream is longer than the
// file it builds).
const int WRITE_OVER = 9;
class TempFileSink : public ByteSink {
public:
    TempFileSink(FileHandle output, uint32_t size) : handle(output), room(size), result(WRITE_OK) {}
    bool isReady() override { return true; }
    bool write(const uint8_t* data, uint16_t length) override {
        if (length > room) result = WRITE_OVER;
        else if (length) result = writeAll(handle, data, length);
        room -= length;
        return result == WRITE_OK;
    }
    FileHandle handle;
    uint32_t room;
    int result;
};

struct Progress {
    uint32_t startPercent;
    uint32_t endPercent;
    uint32_t steps;
    uint32_t lastShown;
};

void showBuildProgress(void* context, uint32_t written) {
    Progress* p = static_cast<Progress*>(context);
    // Unsigned 32-bit, multiplying before dividing, as the bar always did.
    uint32_t shown = p->startPercent +
                     ((written + 10000) / 10000) * (p->endPercent - p->startPercent) / p->steps;
    if (shown != p->lastShown) {
        p->lastShown = shown;
        setProgress(shown);
    }
}

// What one call holds; released by finish().
struct Step {
    FileHandle oldFile;
    FileHandle tempFile;
    bool tempCreated;
    uint8_t* commands;
    uint8_t* data;
    uint8_t* regionCopy;
    uint8_t* regionBuffer;
    DifferenceReader difference;
};

// Releases what the step holds; a step that did not succeed deletes its
// temporary file. Returns `result` (a STEP_ code).
int finish(Step& s, int result) {
    closeFile(s.oldFile);
    closeFile(s.tempFile);
    s.oldFile = s.tempFile = INVALID_FILE;
    if (result != STEP_OK && s.tempCreated && state.scratchPath[0]) removeFile(state.scratchPath);
    freeBuffer(s.commands);
    freeBuffer(s.data);
    freeBuffer(s.regionCopy);
    freeBuffer(s.regionBuffer);
    freeBuffer(s.difference.buffer);
    state.deltaCommandBytesLeft = state.deltaDataBytesLeft = 0;
    return result;
}

int writeFailure(int w) {
    if (w == WRITE_OVER) return failDataRead();
    return w == WRITE_SHORT ? failStep(ERR_DISK_FULL, 0) : failStep(ERR_WRITE, state.scratchPath);
}

// Gives the regions with `restore` their installed bytes in the new file.
int restoreRegions(FileEntry* e, Step& s) {
    PreservedRegion* region = entryRegions(e);
    PreservedRegion* copy = 0;
    for (uint32_t i = 0; i < e->regionCount; i++) {
        if (region->restore && region->offset != REGION_NOT_PRESENT && region->length) {
            if (!s.regionCopy) {
                uint32_t size = e->entrySize - e->regionListOffset;
                s.regionCopy = static_cast<uint8_t*>(allocBuffer(size));
                if (!s.regionCopy) return failStep(ERR_NO_MEMORY, 0);
                memcpy(s.regionCopy, entryRegions(e), size);
                s.tempFile = openFile(state.scratchPath, OPEN_READ_WRITE | OPEN_OWN);
                if (s.tempFile == INVALID_FILE) return failStep(ERR_OPEN, state.scratchPath);
                locateRegions(e->regionCount, reinterpret_cast<PreservedRegion*>(s.regionCopy),
                              s.tempFile);
                copy = reinterpret_cast<PreservedRegion*>(s.regionCopy);
                for (uint32_t k = 0; k < i; k++) copy = nextRegion(copy);
            }
            if (copy->offset != REGION_NOT_PRESENT) {
                uint32_t from = static_cast<uint32_t>(region->offset);
                uint32_t to = static_cast<uint32_t>(copy->offset);
                s.regionBuffer = static_cast<uint8_t*>(allocBuffer(region->length));
                if (!s.regionBuffer) return failStep(ERR_NO_MEMORY, 0);
                if (seekTo(s.oldFile, from) != from ||
                    readExact(s.oldFile, s.regionBuffer, region->length))
                    return failStep(ERR_READ, state.targetPath);
                if (seekTo(s.tempFile, to) != to) return failStep(ERR_WRITE, state.scratchPath);
                int w = writeAll(s.tempFile, s.regionBuffer, region->length);
                if (w) return writeFailure(w);
                freeBuffer(s.regionBuffer);
            }
        }
        region = nextRegion(region);
        if (copy) copy = nextRegion(copy);
    }
    return ERR_NONE;
}

// The temporary file: scratchPath (the target's name with ".$$A", whose
// letter stands at `last`), then B, C, ... while the name is taken in any
// way. The file is created new, never opened, so a file the installer did
// not create is never overwritten; in an all-or-nothing run the name is
// journalled before the file is made.
FileHandle createTemporary(uint32_t last) {
    for (;;) {
        if (!pathExists(state.scratchPath)) {
            if (journalNote('F', state.scratchPath)) return INVALID_FILE;
            bool taken = false;
            FileHandle file = createFile(state.scratchPath, &taken);
            if (file != INVALID_FILE) return file;
            journalVoid();
            if (!taken) break;
        }
        if (static_cast<uint8_t>(state.scratchPath[last]) == 0xFF) break;
        state.scratchPath[last] = static_cast<char>(state.scratchPath[last] + 1);
    }
    failStep(ERR_CREATE, state.scratchPath);
    return INVALID_FILE;
}

// A delete entry that lists versions removes only a file that verification
// identified as one of them; one without versions deletes what it finds.
void deleteTarget(FileEntry* e) {
    if (e->versionCount && e->chosenVersion < 0) e->outcome = OUT_NOT_DELETED;
    else removeTarget(e);
}

// The second phase of an all-or-nothing run: every proven file takes its
// target's place and every deletion is done, in table order, each reported.
// Targets in use are scheduled for the next restart by replaceTarget.
int commitStaged(void* page) {
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) {
        state.textCut = 0;
        resolveTarget(e);
        uint8_t letter = state.stagedLetters[i];
        if (letter) {
            state.scratchPath[temporaryName()] = static_cast<char>(letter);
            replaceTarget(e, state.scratchPath);
        } else if (e->action == ACT_DELETE && !state.textCut) {
            deleteTarget(e);
        }
        if (e->outcome) reportOutcome(page, e->outcome, state.targetPath);
    }
    freeBuffer(state.stagedLetters);
    closeJournal(false);
    setProgress(100);
    return STEP_END;
}

// Past the last entry: an all-or-nothing run commits now (once).
int endOfTable(void* page) { return state.stagedLetters ? commitStaged(page) : STEP_END; }

// The next entry that needs work, from state.currentEntry on, into *entry
// with the version whose data builds it (*version; null for a delete
// entry); the data file is moved to that data. *entry is null when the
// table is done. ERR_NONE, or positionDataFile's failure.
int takeNextEntry(FileEntry** entry, SourceVersion** version) {
    for (;;) {
        FileEntry* e = state.currentEntry;
        state.currentEntry = nextEntry(e);
        e->outcome = OUT_NONE;
        state.scratchPath[0] = 0;
        state.processedKiB += (e->newSize + 1024) / 1024;
        SourceVersion* v = 0;
        if (e->action == ACT_DELETE) {
            // A delete entry reads no data: it never waits for a volume. In
            // an all-or-nothing run it waits for the second phase.
            if (!state.stagedLetters) {
                *entry = e;
                *version = 0;
                return ERR_NONE;
            }
        } else if (e->chosenVersion >= 0 && e->chosenVersion < e->versionCount) {
            v = entryVersions(e) + e->chosenVersion;
        } else if (e->chosenVersion == CV_ABSENT && e->presence == PRES_NEW && e->versionCount) {
            v = entryVersions(e);
        }
        if (v) {
            *entry = e;
            *version = v;
            return positionDataFile(v->dataOffset);
        }
        state.currentEntryIndex += 1;
        if (uint32_t(state.currentEntryIndex) >= state.entryCount) {
            *entry = 0;
            return ERR_NONE;
        }
    }
}

// The file the entry's data builds on: the target, or for an entry whose
// old copy was found in the alternate folder that copy (state.workPath).
void setWorkPath(FileEntry* e) {
    if (e->flags & FE_FROM_ALT_FOLDER) {
        copyText(state.workPath, state.alternateFolder);
        appendBackslash(state.workPath);
        appendText(state.workPath, entryName(e, 1));
        appendBackslash(state.workPath);
        appendText(state.workPath, entryName(e, 0));
    } else {
        copyText(state.workPath, state.targetPath);
    }
}

// Opens the old file where the new one needs it (a delta's copies, or
// preserved regions) and creates the temporary file; *last receives the
// index of its name's stepping letter. A ResultCode (recorded).
int openFiles(FileEntry* e, Step& s, uint32_t* last) {
    bool whole = (e->flags & FE_WHOLE_FILE) != 0;
    if (!whole || e->regionCount != 0) {
        s.oldFile = openFile(state.workPath, OPEN_READ);
        if (s.oldFile == INVALID_FILE) return failStep(ERR_OPEN, state.workPath);
        locateRegions(e->regionCount, entryRegions(e), s.oldFile);
    }
    *last = temporaryName();
    if (state.textCut) return failStep(ERR_PATH_TOO_LONG, state.targetPath);
    if (whole) createFolders(state.targetPath);  // a missing folder shows as ERR_CREATE
    if (state.resultCode) return state.resultCode;  // the journal could not be written
    s.tempFile = createTemporary(*last);
    if (s.tempFile == INVALID_FILE) return state.resultCode;
    s.tempCreated = true;
    return ERR_NONE;
}

// A whole-file entry: its one compressed stream decoded into the
// temporary file. A ResultCode (recorded).
int buildWholeFile(FileEntry* e, SourceVersion* v, Step& s) {
    if (v->packedSize == 0) return failStep(ERR_READ, state.dataPath);
    TempFileSink sink(s.tempFile, e->newSize);
    int decoded = decodeDataStream(&sink, v->packedSize);
    if (sink.result != WRITE_OK) return writeFailure(sink.result);
    if (decoded != INFLATE_OK) return failDataRead();
    return ERR_NONE;
}

// A delta entry: its command and data streams (and difference stream)
// applied to the old file into the temporary file, the bar moving from
// startPercent to endPercent. A ResultCode (recorded).
int buildFromDelta(FileEntry* e, Step& s, uint32_t startPercent, uint32_t endPercent) {
    uint32_t commandSize = 0, dataSize = 0;
    // Every command writes at least half as many bytes as it takes (a
    // 2-byte copy with a 3-byte distance is the worst), and every data
    // byte is written once.
    uint64_t commandLimit = 2 * uint64_t(e->newSize) + 16;
    if (commandLimit > 0x7FFFFFFF) commandLimit = 0x7FFFFFFF;
    int r = readDeltaStream(&s.commands, &commandSize, static_cast<uint32_t>(commandLimit));
    if (!r) r = readDeltaStream(&s.data, &dataSize, e->newSize);
    if (r) return r;
    DifferenceSource* difference = 0;
    if (e->flags & FE_DIFFERENCE_COPIES) {
        if ((r = openDifference(&s.difference, e->newSize)) != ERR_NONE) return r;
        difference = &s.difference.source;
    }
    state.deltaCommandBytesLeft = static_cast<int32_t>(commandSize);
    state.deltaDataBytesLeft = static_cast<int32_t>(dataSize);
    Progress progress = {startPercent, endPercent, (e->newSize + 10000) / 10000, startPercent};
    DeltaJob job;
    job.commands = s.commands;
    job.commandSize = commandSize;
    job.data = s.data;
    job.dataSize = dataSize;
    job.oldFile = s.oldFile;
    job.oldSize = fileSize(s.oldFile);
    job.output = s.tempFile;
    job.newSize = e->newSize;
    job.regions = entryRegions(e);
    job.regionCount = e->regionCount;
    job.progress = endPercent != startPercent ? showBuildProgress : 0;
    job.progressContext = &progress;
    job.difference = difference;
    switch (applyDelta(&job)) {
    case DELTA_OK: return ERR_NONE;
    case DELTA_NO_DATA: return failStep(ERR_WRITE, state.scratchPath);
    case DELTA_BAD: return failStep(ERR_READ, state.dataPath);
    case DELTA_OLD_READ: return failStep(ERR_READ, state.targetPath);
    case DELTA_WRITE_SHORT: return writeFailure(WRITE_SHORT);
    case DELTA_NO_MEMORY: return failStep(ERR_NO_MEMORY, 0);
    case DELTA_SOURCE_FAILED: return state.resultCode;  // the reader recorded why
    default: return writeFailure(WRITE_FAILED);
    }
}

// Sets the file times of the open temporary file and flushes and closes it.
int closeTemporary(Step& s, const EntryTimesBlock* times) {
    if (times) setFileTimes(s.tempFile, times);
    if (flushFile(s.tempFile) != FILE_DONE) return failStep(ERR_WRITE, state.scratchPath);
    closeFile(s.tempFile);
    s.tempFile = INVALID_FILE;
    return ERR_NONE;
}

// The built file made whole: times set and flushed, preserved regions put
// back (which reopens it), and then proven against the entry: checksum
// (regions blanked where the new file has them), size, and the digest when
// the entry has one. A ResultCode (recorded).
int completeNewFile(FileEntry* e, Step& s) {
    const EntryTimesBlock* times = entryTimesBlock(e);
    int r = closeTemporary(s, times);
    if (r) return r;
    if (e->regionCount) {
        if ((r = restoreRegions(e, s)) != ERR_NONE) return r;
        freeBuffer(s.regionCopy);
    }
    closeFile(s.oldFile);
    s.oldFile = INVALID_FILE;
    if (s.tempFile != INVALID_FILE && (r = closeTemporary(s, times)) != ERR_NONE) return r;

    FileHandle check = openFile(state.scratchPath, OPEN_READ | OPEN_OWN);
    if (check == INVALID_FILE) return failStep(ERR_OPEN, state.scratchPath);
    FileProof proof;
    proveFile(e, check, &proof);
    closeFile(check);
    if (!proofMatches(e, 0, &proof)) return failStep(ERR_VERIFY, state.targetPath);
    return ERR_NONE;
}

}  // namespace

int installNextFile(void* page) {
    Step s = {INVALID_FILE, INVALID_FILE, false, 0, 0, 0, 0, {{0, 0, 0, 0}, 0, 0}};
    uint32_t startPercent = 0;
    if (state.entryCount != 0) {
        startPercent = percentDone();
        setProgress(startPercent);
    }
    state.currentEntryIndex += 1;
    if (state.currentEntryIndex < 0 || uint32_t(state.currentEntryIndex) >= state.entryCount)
        return endOfTable(page);
    FileEntry* e = 0;
    SourceVersion* v = 0;
    if (takeNextEntry(&e, &v)) return STEP_STOPPED;
    if (!e) return endOfTable(page);

    state.textCut = 0;
    int found = resolveTarget(e);
    setWorkPath(e);
    if ((e->flags & FE_FROM_ALT_FOLDER) && (e->flags & FE_HAS_VERSION) && !confirmOlderVersion(e))
        return STEP_OK;
    uint32_t endPercent = state.totalKiB ? percentDone() : startPercent;
    showFileInWork(page, state.targetPath);
    if (state.textCut) return (failStep(ERR_PATH_TOO_LONG, state.targetPath), STEP_STOPPED);

    if (e->action == ACT_DELETE) {
        deleteTarget(e);
        reportOutcome(page, e->outcome, state.targetPath);
        setProgress(endPercent);
        return STEP_OK;
    }
    if (found != ERR_NONE) return (failStep(found, state.targetPath), STEP_STOPPED);

    uint32_t last = 0;
    if (openFiles(e, s, &last)) return finish(s, STEP_STOPPED);
    int r = (e->flags & FE_WHOLE_FILE) ? buildWholeFile(e, v, s)
                                       : buildFromDelta(e, s, startPercent, endPercent);
    if (r || completeNewFile(e, s)) return finish(s, STEP_STOPPED);

    if (state.stagedLetters) {
        // Proven; it waits under its temporary name for the second phase.
        state.stagedLetters[state.currentEntryIndex] = static_cast<uint8_t>(state.scratchPath[last]);
    } else {
        replaceTarget(e, state.scratchPath);
        reportOutcome(page, e->outcome, state.targetPath);
    }
    setProgress(endPercent);
    return finish(s, STEP_OK);
}
