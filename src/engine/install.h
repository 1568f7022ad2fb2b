// The installation run: one file per installNextFile call.
//
// beginInstallation opens the package file at its data area and sets the
// run's counters (volume 0's values, first entry); installNextFile then takes
// the next entry that needs work, moves the data file to its data, builds
// the new file under a ".$$A" name (delta or whole file), restores preserved
// regions, sets file times, proves the result by checksum and size, and puts
// it in place (replace.h). It returns 1 while more may follow and 0 when the
// table is done or state.resultCode says why the run stopped; then
// finishInstallation closes the data file. Every call releases what it
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
// messageSubject, targetPath/workPath/scratchPath, the delta counters and
// the volume state (dataFile, dataPath, volumeNumber/Base/DataSize/BytesLeft).
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/filetable.h"

// Engine side of the progress page's start and end. beginInstallation
// returns 1, or 0 with resultCode = ERR_OPEN and the path in messageSubject
// (ERR_NO_MEMORY, or the journal's ERR_CREATE, in an all-or-nothing run).
int beginInstallation();
void finishInstallation();
int installNextFile(void* page);

// The code the finish page reports: resultCode, or ERR_NOT_REPLACED when the
// run succeeded but some target kept its old content, or ERR_RESTART_NEEDED
// when some new file waits for the next restart.
int finalResultCode();

// Moves state.dataFile to a data-area offset (all volumes together), moving
// on to later volumes as needed, and keeps volumeBytesLeft equal to the
// volume's data behind the new position. 0, or ERR_CANCELLED / ERR_READ
// (messageSubject = dataPath for ERR_READ). Offsets before the current
// volume cannot be reached: ERR_READ.
int positionDataFile(uint32_t offset);

// Reads one delta stream at the data file's position into a new buffer
// (null for an empty stream). A ResultCode; a stream whose decoded size
// exceeds `largest` is refused with ERR_READ before anything is allocated.
int readDeltaStream(uint8_t** buffer, uint32_t* size, uint32_t largest);
// Reads one stream that must decode to exactly `size` bytes into buffer;
// any other size is ERR_READ. A ResultCode.
int readStreamInto(uint8_t* buffer, uint32_t size);
// Reads a little-endian u32 of the data area. A ResultCode.
int readDataWord(uint32_t* value);

// Records a failed step: messageSubject (unless null) and resultCode.
// Returns the code.
int failStep(int code, const char* subject);

// The progress bar; the progress page plugs in its setProgress. Default:
// nothing.
typedef void (*ProgressListener)(uint32_t percent);
extern ProgressListener progressListener;

// Seams of the platform layer (replace_win32.cpp, version_win32.cpp).
void showFileInWork(void* page, const char* path);
// 1 = go on with the file, 0 = the user declined (newer installed version).
int confirmOlderVersion(FileEntry* entry);
// 0 = done. Sets the three file times of an open file.
int setFileTimes(FileHandle file, const EntryTimesBlock* times);
// Writes the file's buffers through to the disk; 0 = done.
int flushFile(FileHandle file);
// Deletes a file (a sharing violation is waited out); 0 = done.
int removeFile(const char* path);
// Removes an empty folder; 0 = done.
int removeFolder(const char* path);
