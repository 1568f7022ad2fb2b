// The journal of an all-or-nothing run (journal.h). Platform-free: it
// reads and writes through fileops and deletes through the engine's seams.
#include "engine/journal.h"

#include <string.h>

#include "base/state.h"
#include "engine/install.h"
#include "engine/results.h"
#include "package/paths.h"

// The run's journal while it is kept, else INVALID_FILE.
static FileHandle journal = INVALID_FILE;

void journalPath(char* out) {
    copyText(out, state.destinationDir);
    appendText(out, JOURNAL_NAME);
}

// "*.$$?": the only names undoing deletes.
static bool isTemporaryName(const char* name) {
    size_t n = strlen(name);
    return n > 4 && name[n - 4] == '.' && name[n - 3] == '$' && name[n - 2] == '$';
}

// Last made first, so that every folder is empty of what the run put in it
// when its turn comes. A slot cut short by a kill named nothing that was
// created. A journal that cannot be read whole, or names a temporary file
// that is still there (held open by another program), stays for a later run.
static void undo(const char* journalName) {
    FileHandle file = openFile(journalName, OPEN_READ);
    if (file == INVALID_FILE) return;
    uint32_t size = fileSize(file);
    uint8_t* slots = size <= JOURNAL_MAX ? static_cast<uint8_t*>(allocBuffer(size)) : 0;
    bool whole = slots && readExact(file, slots, size) == 0;
    closeFile(file);
    bool kept = !whole;
    if (whole) {
        for (uint32_t k = size / JOURNAL_SLOT; k-- > 0;) {
            uint8_t* slot = slots + k * JOURNAL_SLOT;
            char* name = reinterpret_cast<char*>(slot + 1);
            slot[JOURNAL_SLOT - 1] = 0;
            if (slot[0] == 'F' && isTemporaryName(name)) {
                removeFile(name);
                kept |= pathExists(name);
            }
            if (slot[0] == 'D') removeFolder(name);
        }
    }
    if (!kept) removeFile(journalName);
    freeBuffer(slots);
}

void recoverJournal() {
    char name[TEXT_CAPACITY];
    journalPath(name);
    undo(name);
}

int openJournal() {
    recoverJournal();
    char name[TEXT_CAPACITY];
    journalPath(name);
    bool taken;
    journal = createFile(name, &taken);
    return journal != INVALID_FILE ? ERR_NONE : failStep(ERR_CREATE, name);
}

// One slot at the journal's position, flushed to the disk.
static int writeSlot(char kind, const char* path) {
    char slot[JOURNAL_SLOT];
    memset(slot, 0, sizeof slot);
    slot[0] = kind;
    copyText(slot + 1, path);
    int w = writeAll(journal, slot, JOURNAL_SLOT);
    if (w == WRITE_OK && flushFile(journal) == FILE_DONE) return ERR_NONE;
    journalPath(slot);
    return failStep(w == WRITE_SHORT ? ERR_DISK_FULL : ERR_WRITE, slot);
}

int journalNote(char kind, const char* path) {
    return journal != INVALID_FILE ? writeSlot(kind, path) : ERR_NONE;
}

void journalVoid() {
    if (journal == INVALID_FILE) return;
    seekBy(journal, -static_cast<int32_t>(JOURNAL_SLOT));
    writeSlot(0, "");
}

void closeJournal(bool undoIt) {
    if (journal == INVALID_FILE) return;
    passCheckpoint();
    closeFile(journal);
    journal = INVALID_FILE;
    char name[TEXT_CAPACITY];
    journalPath(name);
    if (undoIt) undo(name);
    else removeFile(name);
}
