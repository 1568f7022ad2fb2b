#include "run/cmdline.h"

#include "run/state.h"

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

void parseCommandLine(const char* text) {
    if (!text) return;
    while (*text == ' ') text++;
    while (*text == '-' || *text == '/') {
        char letter = upper(text[1]);
        if (!text[1]) break;
        text += 2;
        if (letter == 'S') {
            text = readArgument(text, state.sourcePath, TEXT_CAPACITY);
        } else if (letter == 'D' && upper(text[0]) == 'E' && upper(text[1]) == 'L') {
            state.isRelaunchedCopy = 1;
        }
        while (*text && *text != ' ' && *text != '-' && *text != '/') text++;
        while (*text == ' ') text++;
    }
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
