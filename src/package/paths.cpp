#include "package/paths.h"

#include <string.h>

#include "base/state.h"
#include "package/fileops.h"

static char** const textBuffers[8] = {
    &state.sourcePath, &state.dataPath, &state.destinationDir, &state.targetPath,
    &state.workPath, &state.scratchPath, &state.alternateFolder, &state.messageSubject,
};

bool allocateTextBuffers() {
    for (char** buffer : textBuffers) {
        *buffer = static_cast<char*>(allocZeroed(TEXT_CAPACITY));
        if (!*buffer) return false;
    }
    return true;
}

void releaseSessionBuffers() {
    for (char** buffer : textBuffers) freeBuffer(*buffer);
    freeBuffer(state.destinationSwitch);
    freeBuffer(state.logPath);
}

void copyText(char* destination, const char* text) {
    uint32_t i = 0;
    if (text)
        for (; text[i]; i++) {
            if (i == TEXT_MAX) {
                state.textCut = 1;
                break;
            }
            destination[i] = text[i];
        }
    destination[i] = 0;
}

void appendText(char* s, const char* text) {
    uint32_t n = static_cast<uint32_t>(strlen(s));
    while (n < TEXT_MAX && *text) s[n++] = *text++;
    if (*text) state.textCut = 1;
    s[n] = 0;
}

// The next character of a text: a lead byte and its second byte are one.
static const char* nextChar(const char* p) { return p + (isLeadByte(*p) && p[1] ? 2 : 1); }

char* lastChar(char* s) {
    char* last = 0;
    for (char* p = s; *p; p = const_cast<char*>(nextChar(p))) last = p;
    return last;
}

char* lastBackslash(const char* s) {
    const char* found = 0;
    for (const char* p = s; *p; p = nextChar(p))
        if (*p == '\\') found = p;
    return const_cast<char*>(found);
}

char* nextBackslash(const char* s) {
    for (const char* p = s; *p; p = nextChar(p))
        if (*p == '\\') return const_cast<char*>(p);
    return 0;
}

void appendBackslash(char* s) {
    char* last = lastChar(s);
    if (last && *last != '\\') appendText(s, "\\");
}

void stripBackslash(char* s) {
    char* last = lastChar(s);
    if (last && last - s >= 3 && *last == '\\') *last = 0;
}

void replaceExtension(char* s, const char* ext) {
    char* dot = strrchr(s, '.');  // '.' and '/' are never a character's second byte
    char* slash = lastBackslash(s);
    char* forward = strrchr(s, '/');  // a separator on every system
    if (forward > slash) slash = forward;
    if (dot && (!slash || dot > slash)) *dot = 0;
    appendText(s, ext);
}

uint32_t temporaryName() {
    copyText(state.scratchPath, state.targetPath);
    replaceExtension(state.scratchPath, ".$$A");
    return static_cast<uint32_t>(strlen(state.scratchPath)) - 1;
}

void shortenPath(char* s, uint32_t maxLen) {
    size_t len = strlen(s);
    char* first = nextBackslash(s);
    char* last = lastBackslash(s);
    if (len <= maxLen || !first || last - first < 4) return;

    // The kept prefix grows folder by folder while it and the last part fit.
    size_t tail = len - static_cast<size_t>(last - s);
    char* cur = first;
    char* cut = cur + 1;
    while (last - cur >= 4 && tail + static_cast<size_t>(cur - s) < maxLen) {
        cut = cur + 1;
        cur = nextBackslash(cut);
        if (!cur) break;
    }
    // cut + 3 <= last: the tail only moves towards the front.
    memcpy(cut, "...", 3);
    memmove(cut + 3, last, tail + 1);
}

bool samePathIgnoringCase(const char* a, const char* b) {
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (isLeadByte(x) && a[1]) {  // a two-byte character: its bytes as they are
            if (x != y || a[1] != b[1]) return false;
            a++;
            b++;
            continue;
        }
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
        if (!x) return true;
    }
}
