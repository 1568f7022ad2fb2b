#include "run/cmdline.h"

#include <string.h>

#include "base/state.h"
#include "package/fileops.h"

static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

const char* readArgument(const char* text, char* destination, uint32_t capacity) {
    destination[0] = 0;
    while (*text == ' ') text++;
    char end = ' ';
    if (*text == '"') {
        end = '"';
        text++;
    }
    uint32_t n = 0;
    while (*text && *text != end) {
        if (n + 1 < capacity) destination[n++] = *text;
        text++;
    }
    destination[n] = 0;
    if (end == '"' && *text == '"') text++;
    return text;
}

// A /D= or /L= value: into its own 260-byte block when `store`, else
// consumed without being kept. *ok turns false when the block cannot be had
// or the value does not fit 258 characters.
static const char* readValue(const char* text, char** block, bool store, bool* ok) {
    char ignored[1];
    if (!store) return readArgument(text, ignored, sizeof ignored);
    if (!*block) *block = static_cast<char*>(allocZeroed(TEXT_CAPACITY));
    if (!*block) {
        *ok = false;
        return readArgument(text, ignored, sizeof ignored);
    }
    text = readArgument(text, *block, TEXT_CAPACITY);
    // A cut folder or log name would name another place: refused.
    if (strlen(*block) >= TEXT_MAX) *ok = false;
    return text;
}

// Walks the switches; with `store` they land in state. Returns whether /Q
// was among them; *ok turns false when a value's block cannot be had.
static bool walkSwitches(const char* text, bool store, bool* ok) {
    bool quiet = false;
    if (!text) return quiet;
    while (*text == ' ') text++;
    while (*text == '-' || *text == '/') {
        char letter = upper(text[1]);
        if (!text[1]) break;
        text += 2;
        if (letter == 'S') {
            char ignored[1];
            text = store ? readArgument(text, state.sourcePath, TEXT_CAPACITY)
                         : readArgument(text, ignored, sizeof ignored);
        } else if (letter == 'D' && upper(text[0]) == 'E' && upper(text[1]) == 'L') {
            if (store) state.isRelaunchedCopy = 1;
        } else if (letter == 'D' && text[0] == '=') {
            text = readValue(text + 1, &state.destinationSwitch, store, ok);
        } else if (letter == 'L' && text[0] == '=') {
            text = readValue(text + 1, &state.logPath, store, ok);
        } else if (letter == 'Q') {
            quiet = true;
            if (store) state.quiet = 1;
        } else if (letter == '?') {
            if (store) state.showSwitches = 1;
        }
        while (*text && *text != ' ' && *text != '-' && *text != '/') text++;
        while (*text == ' ') text++;
    }
    return quiet;
}

bool parseCommandLine(const char* text) {
    bool ok = true;
    walkSwitches(text, true, &ok);
    return ok;
}

bool quietSwitchGiven(const char* text) {
    bool ok = true;
    return walkSwitches(text, false, &ok);
}

const char* programArguments(const char* commandLine) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    // Windows' own rule for the program's name: a quoted name runs to the
    // next quote, any other to the first blank.
    if (*p == '"') {
        p++;
        while (*p && *p != '"') p++;
        if (*p == '"') p++;
    } else {
        while (*p > ' ') p++;
    }
    while (*p && *p <= ' ') p++;
    return reinterpret_cast<const char*>(p);
}
