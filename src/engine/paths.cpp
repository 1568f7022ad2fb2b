#include "engine/paths.h"

#include <string.h>

#include "run/state.h"

void appendText(char* s, const char* text) {
    uint32_t n = static_cast<uint32_t>(strlen(s));
    while (n < TEXT_MAX && *text) s[n++] = *text++;
    if (*text) state.textCut = 1;
    s[n] = 0;
}

void appendBackslash(char* s) {
    size_t n = strlen(s);
    if (n && s[n - 1] != '\\') appendText(s, "\\");
}

void stripBackslash(char* s) {
    size_t n = strlen(s);
    if (n > 3 && s[n - 1] == '\\') s[n - 1] = 0;
}

void replaceExtension(char* s, const char* ext) {
    char* dot = strrchr(s, '.');
    char* slash = strrchr(s, '\\');
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
    char* first = strchr(s, '\\');
    char* last = strrchr(s, '\\');
    if (len <= maxLen || !first || last - first < 4) return;

    // The kept prefix grows folder by folder while it and the last part fit.
    size_t tail = len - static_cast<size_t>(last - s);
    char* cur = first;
    char* cut = cur + 1;
    while (last - cur >= 4 && tail + static_cast<size_t>(cur - s) < maxLen) {
        cut = cur + 1;
        cur = strchr(cut, '\\');
        if (!cur) break;
    }
    // cut + 3 <= last: the tail only moves towards the front.
    memcpy(cut, "...", 3);
    memmove(cut + 3, last, tail + 1);
}

bool samePathIgnoringCase(const char* a, const char* b) {
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
        if (!x) return true;
    }
}
