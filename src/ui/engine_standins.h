// TEMPORARY stand-ins for the engine's interfaces that the wizard calls,
// until the engine work (verification, file table, results, path helpers)
// and the delta work (installNextFile, beginInstallation, finishInstallation,
// reportOutcome) are in main. Then this header and engine_standins.cpp go
// and the wizard includes engine/results.h, engine/filetable.h,
// engine/paths.h, engine/target.h, engine/verify.h and the delta header.
// Every declaration here has the shape the engine gives it.
#pragma once
#include <windows.h>
#include <stdint.h>

enum ResultCode {
    ERR_NONE = 0,
    ERR_NOTHING_TO_DO = 3,
    ERR_FILE_MISSING = 9,
    ERR_UNKNOWN_VERSION = 10,
    ERR_CANCELLED = 17,
    ERR_OPEN = 18,
    ERR_NOT_REPLACED = 24
};
enum FileOutcome { OUT_NONE = 0, OUT_NOT_REPLACED = 29 };

#pragma pack(push, 1)
struct FileEntry {
    uint32_t entrySize;
    uint8_t location;
    uint8_t presence;
    uint8_t onUnknownVersion;
    uint8_t action;
    uint16_t flags;
    uint32_t newSize;
    uint32_t newChecksum;
    uint16_t versionCount;
    uint16_t outcome;
    uint16_t versionListOffset;
    int16_t chosenVersion;
    uint16_t regionListOffset;
    uint16_t regionCount;
};
#pragma pack(pop)
enum : uint8_t { UNK_ASK_FOLDER = 2 };
enum : int16_t { CV_NONE = -1 };

FileEntry* nextEntry(FileEntry* entry);
const char* entryName(const FileEntry* entry, unsigned k);
int resolveTarget(FileEntry* entry);
void appendBackslash(char* s);
void stripBackslash(char* s);

int verifyInstallation();
typedef bool (*AlternateFolderDialog)(void* owner);
extern AlternateFolderDialog alternateFolderDialog;

int beginInstallation();
void finishInstallation();
int installNextFile(HWND page);
void reportOutcome(HWND page, int outcome, const char* path);
