// Replacement and removal of targets, folder creation, and the per-file
// outcome lines (Win32: replace_win32.cpp).
//
// replaceTarget never deletes the old target before the new file is in its
// place: on the NT family one MoveFileExA(REPLACE_EXISTING | WRITE_THROUGH)
// swaps them; where that call is missing (9x family) the old file is moved
// aside, the new one moved in, and the old copy deleted (moved back when the
// second move fails). A target that is read-only stays read-only. Outcomes:
// OUT_REPLACED, OUT_CREATED (there was no target) or OUT_NOT_REPLACED (the
// target is in use or locked; the new file is deleted, the old one kept).
//
// None of these set resultCode; failures show only as outcomes.
#pragma once
#include <stdint.h>

#include "package/filetable.h"

void replaceTarget(FileEntry* entry, const char* tempPath);
// Deletes the target; the outcome says how it went: OUT_DELETED or
// OUT_NOT_DELETED.
void removeTarget(FileEntry* entry);
// Makes every folder of the path that is missing. ERR_NONE when all exist
// now, ERR_CREATE when one could not be made, ERR_NO_MEMORY. Leaves the
// current folder at the deepest folder reached.
int createFolders(const char* path);
// Appends "path: outcome text" to the page's list (control 1013) and tells
// outcomeListener, if set.
void reportOutcome(void* page, unsigned outcome, const char* path);

typedef void (*OutcomeListener)(void* page, unsigned outcome, const char* path);
extern OutcomeListener outcomeListener;

// Tests: take the 9x route even where MoveFileExA works.
extern int replaceWithoutMoveFileEx;
