// Where an entry's file lives on disk.
//
// resolveTarget sets state.targetPath to the full path of the entry's file:
// the destination folder or the Windows folder plus relativePath, or for a
// shared file the folder the version API names plus the file's base name.
// Returns ERR_NONE, or ERR_FILE_IN_USE when the version API reports the
// shared file in use (resultCode is left alone); then
// targetPath names the copy in use (its current folder plus base name) when
// the API tells where it is, else the destination path. Called afresh for
// every entry handled, so targetPath always belongs to the entry in hand.
#pragma once
#include <stdint.h>

#include "package/filetable.h"
#include "engine/results.h"

int resolveTarget(FileEntry* entry);

// VerFindFileA's shape, so tests can answer for the version API.
typedef uint32_t (*SharedFileSearch)(uint32_t flags, const char* fileName, const char* windowsDir,
                                     const char* appDir, char* currentDir, uint32_t* currentLen,
                                     char* destDir, uint32_t* destLen);
extern SharedFileSearch sharedFileSearch;

// POSIX only: how a name on the disk is matched to one of the table when
// it is not there as written (samePathIgnoringCase unless a tool that knows
// the names' characters says otherwise).
typedef bool (*NameMatch)(const char* onDisk, const char* wanted);
extern NameMatch nameMatch;
