// The journal of an all-or-nothing run: what the run created, so that a
// failure, a Cancel or a killed process never leaves anything of it behind.
//
// The journal is the file JOURNAL_NAME in the destination folder: slots of
// JOURNAL_SLOT bytes, one per thing the run creates, each written and
// flushed before the thing is created: 'F' and the path of a temporary file,
// or 'D' and the path of a folder. A slot whose creation then finds the name
// taken is blanked again (kind 0).
//
// Undoing a journal goes through it from the last slot to the first: it
// deletes the temporary files it names (only names of the form "*.$$?", the
// engine's own) and removes the folders it names when they are empty, then
// deletes the journal, unless a temporary file could not be deleted (held
// open by another program): the journal then stays for the next run, whose
// journal cannot be started until that file is gone. A run that failed or
// was cancelled undoes its journal; a finished one deletes it without
// undoing (its temporaries are in place by then, or wait for a restart);
// verification undoes one that a killed run left.
//
// File-by-file runs keep no journal: journalNote, journalVoid and
// closeJournal do nothing while none is open, and only all-or-nothing runs
// call recoverJournal and openJournal.
#pragma once
#include <stdint.h>

const char JOURNAL_NAME[] = "~update.$$J";
const uint32_t JOURNAL_SLOT = 261;  // kind byte + a 260-byte path
// A larger file of that name is none of ours: it is left alone.
const uint32_t JOURNAL_MAX = 4u << 20;

// The journal's path into out (a 260-byte buffer): the destination folder
// and JOURNAL_NAME. state.textCut tells whether it fit.
void journalPath(char* out);

// Undoes a journal left in the destination folder, if there is one.
void recoverJournal();

// Starts the run's journal (an old one is undone first). 0, or ERR_CREATE
// with the journal's path in messageSubject.
int openJournal();

// Records a thing about to be created: kind 'F' (temporary file) or 'D'
// (folder). 0, or ERR_WRITE when the journal cannot be written.
int journalNote(char kind, const char* path);
// Blanks the last slot: its thing was not created after all (a failure
// sets resultCode).
void journalVoid();

// Closes the run's journal; undo = true removes what it names first.
void closeJournal(bool undo);
