// The run's log (run/runlog.h). Lines are built in one fixed buffer and
// written as they are made; nothing is kept between runs.
#include <windows.h>

#include "base/state.h"
#include "engine/install.h"
#include "engine/results.h"
#include "package/fileops.h"
#include "package/filetable.h"
#include "package/strings.h"
#include "run/runlog.h"

// chosenVersion of an entry no verification has reached.
const int16_t CV_NOT_EXAMINED = -4;

const uint32_t LINE_CAPACITY = 1400;  // a path, a finding and a message of 1,024

struct LogLine {
    HANDLE file;
    uint32_t used;
    char text[LINE_CAPACITY];
};

// Appends text, control characters as blanks, cut to the buffer.
static void put(LogLine* line, const char* text) {
    for (; *text && line->used < LINE_CAPACITY - 2; text++)
        line->text[line->used++] = static_cast<unsigned char>(*text) < ' ' ? ' ' : *text;
}

static void putNumber(LogLine* line, const char* format, int value) {
    char number[16];
    wsprintfA(number, format, value);
    put(line, number);
}

static void endLine(LogLine* line) {
    line->text[line->used++] = '\r';
    line->text[line->used++] = '\n';
    DWORD written;
    WriteFile(line->file, line->text, line->used, &written, 0);
    line->used = 0;
}

void prepareRunLog(bool quiet) {
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e))
        if (quiet || e->onUnknownVersion != UNK_ASK_FOLDER) e->chosenVersion = CV_NOT_EXAMINED;
}

int wizardLogResult() {
    if (state.progressWindow) {
        int code = finalResultCode();
        if (code == ERR_NONE && state.currentEntryIndex < static_cast<int32_t>(state.entryCount))
            code = ERR_CANCELLED;
        return code;
    }
    if (state.verifyResult != ERR_NONE) return state.verifyResult;  // only a check sets it
    return ERR_CANCELLED;
}

static void putFinding(LogLine* line, const FileEntry* e) {
    switch (e->chosenVersion) {
    case CV_NOT_EXAMINED: put(line, "not examined"); break;
    case CV_CURRENT: put(line, "current"); break;
    case CV_ABSENT: put(line, "absent"); break;
    case CV_NONE: put(line, "unknown"); break;
    default:
        putNumber(line, "version %d", e->chosenVersion);
        if (e->flags & FE_FROM_ALT_FOLDER) put(line, " in the other folder");
    }
}

void writeRunLog(int resultCode, int exitCode) {
    if (!state.logPath || !state.logPath[0]) return;
    LogLine* line = static_cast<LogLine*>(allocBuffer(sizeof(LogLine)));
    if (!line) return;
    line->used = 0;
    line->file = CreateFileA(state.logPath, GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, 0);
    if (line->file != INVALID_HANDLE_VALUE) {
        SetFilePointer(line->file, 0, 0, FILE_END);
        SYSTEMTIME now;
        GetLocalTime(&now);
        char stamp[40];
        wsprintfA(stamp, "%04d-%02d-%02d %02d:%02d:%02d ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
        put(line, stamp);
        put(line, state.quiet ? "quiet run of " : "wizard run of ");
        put(line, state.sourcePath);
        putNumber(line, ", key %08X", static_cast<int>(state.bindingKey));
        endLine(line);
        if (resultCode >= 0) {
            put(line, "destination ");
            put(line, state.destinationDir);
            endLine(line);
            FileEntry* e = state.firstEntry;
            for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) {
                put(line, entryName(e, 0));
                put(line, ": ");
                putFinding(line, e);
                if (e->outcome) {
                    put(line, ", ");
                    put(line, getString(TABLE_MESSAGES, e->outcome));
                }
                endLine(line);
            }
            putNumber(line, "result %d: ", resultCode);
            char message[1024];
            if (resultCode == ERR_NONE)
                put(line, getString(PAGE_FINISH, TEXT_FINISH_TITLE));
            else if (formatMessage(message, sizeof message, resultCode))
                put(line, message);
            endLine(line);
        }
        putNumber(line, "exit code %d", exitCode);
        endLine(line);
        endLine(line);
        CloseHandle(line->file);
    }
    freeBuffer(line);
}
