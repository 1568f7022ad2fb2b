// The installation run: one file per installNextFile call.
//
// beginInstallation opens the package file at its data area and sets the
// run's counters (volume 0's values, first entry); installNextFile then takes
// the next entry that needs work, moves the data file to its data, builds
// the new file under a ".$$A" name (delta or whole file), restores preserved
// regions, sets file times, proves the result by checksum and size, and puts
// it in place (replace.h). It returns STEP_OK while more may follow, then
// STEP_END, or STEP_STOPPED when state.resultCode says why the run stopped;
// then finishInstallation closes the data file. Every call releases what it
// opened; a failed call deletes its temporary file and leaves the target as
// it was.
//
// In an all-or-nothing run (OPT_ALL_OR_NOTHING) the calls first build and
// prove every file under its temporary name, then one call past the last
// entry replaces and deletes in table order (install.cpp). Until then
// finishInstallation undoes the run: a failure, a Cancel (the page sets
// resultCode = ERR_CANCELLED first) or a closed page leaves every installed
// file as it was and no file or folder of the run behind.
//
// Touches: state.currentEntry/currentEntryIndex, processedKiB, resultCode,
// messageSubject, targetPath/workPath/scratchPath, the delta counters and,
// through the data file's reader (engine/datafile.h), the volume state.
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/filetable.h"

// Engine side of the progress page's start and end. beginInstallation
// returns ERR_NONE, or ERR_OPEN (also in resultCode) with the path in
// messageSubject (ERR_NO_MEMORY, or the journal's ERR_CREATE, in an
// all-or-nothing run).
int beginInstallation();
void finishInstallation();

// installNextFile results.
enum {
    STEP_OK = 0,      // a file was handled or passed over; more may follow
    STEP_END = 1,     // past the last entry: the run is done
    STEP_STOPPED = 2  // the run stopped; state.resultCode says why
};
int installNextFile(void* page);

// The code the finish page reports: resultCode, or ERR_NOT_REPLACED when the
// run succeeded but some target kept its old content, or ERR_RESTART_NEEDED
// when some new file waits for the next restart.
int finalResultCode();

// Records a failed step: messageSubject (unless null) and resultCode.
// Returns the code.
int failStep(int code, const char* subject);

// The progress bar; the progress page plugs in its setProgress. Default:
// nothing.
typedef void (*ProgressListener)(uint32_t percent);
extern ProgressListener progressListener;

// Seams of the platform layer (replace_win32.cpp, version_win32.cpp).
void showFileInWork(void* page, const char* path);
// Whether to go on with the file; false when the user declined (a newer
// version is installed).
bool confirmOlderVersion(FileEntry* entry);
// The file seams below return FILE_DONE, or FILE_FAILED when the system
// refused.
enum { FILE_DONE = 0, FILE_FAILED = 1 };
// Sets the three file times of an open file.
int setFileTimes(FileHandle file, const EntryTimesBlock* times);
// Writes the file's buffers through to the disk.
int flushFile(FileHandle file);
// Deletes a file (a sharing violation is waited out).
int removeFile(const char* path);
// Removes an empty folder.
int removeFolder(const char* path);
