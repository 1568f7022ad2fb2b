// Text lookup and expansion; the platform-free half of the package's texts.
// Message boxes and template copies live in messages_win32.cpp (and a native
// stand-in in messages_posix.cpp).
#include "package/paths.h"
#include "package/strings.h"

#include <string.h>

#include "base/state.h"
#include "package/dialogs.h"
#include "package/format.h"
#include "package/templates.h"

static const char emptyText[1] = {0};

const char* getString(unsigned table, unsigned index) {
    if (table >= 8 || !state.stringTables[table]) return emptyText;
    const char* p = reinterpret_cast<const char*>(state.stringTables[table]);
    uint32_t size = state.stringTableSizes[table];
    if (size < 2) return emptyText;
    uint16_t count = static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
    uint16_t wanted = static_cast<uint16_t>(index);
    if (wanted >= count) return emptyText;
    // The loader leaves a NUL behind every table, so each text found inside
    // the buffer ends inside the allocation.
    uint32_t pos = 2;
    for (uint16_t i = 0; i < wanted; i++) {
        while (pos < size && p[pos]) pos++;
        pos++;
        if (pos >= size) return emptyText;
    }
    return pos < size ? p + pos : emptyText;
}

const char* cancelQuestion() {
    return getString(TABLE_MESSAGES, (state.options & OPT_ALL_OR_NOTHING) ? TEXT_CANCEL_NOTHING_CHANGED : TEXT_CANCEL_QUESTION);
}

void setMessageSubject(const char* text) { copyText(state.messageSubject, text); }

uint32_t expandText(char* destination, uint32_t capacity, const char* text,
                    const char* subject, int number, bool numberAllowed) {
    if (!capacity) return 0;
    uint32_t n = 0;
    char digits[12];
    for (const char* p = text; *p; p++) {
        const char* insert = 0;
        char single[2] = {*p, 0};
        if (p[0] == '%' && p[1] == 's') {
            insert = subject ? subject : emptyText;
            p++;
        } else if (p[0] == '%' && p[1] == '%') {
            insert = "%";
            p++;
        } else if (p[0] == '%' && p[1] == 'd' && numberAllowed) {
            // decimal, with sign
            unsigned v = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
            int d = sizeof digits - 1;
            digits[d] = 0;
            do {
                digits[--d] = static_cast<char>('0' + v % 10);
                v /= 10;
            } while (v);
            if (number < 0) digits[--d] = '-';
            insert = digits + d;
            p++;
        } else {
            insert = single;
        }
        for (; *insert; insert++) {
            if (n + 1 >= capacity) goto full;
            destination[n++] = *insert;
        }
    }
full:
    destination[n] = 0;
    return n;
}

uint32_t formatMessage(char* destination, uint32_t capacity, unsigned index) {
    const char* text = getString(TABLE_MESSAGES, index);
    if (strstr(text, "%s"))
        return expandText(destination, capacity, text, state.messageSubject, 0, false);
    // A text without "%s" is used as it stands.
    uint32_t n = 0;
    if (!capacity) return 0;
    while (text[n] && n + 1 < capacity) {
        destination[n] = text[n];
        n++;
    }
    destination[n] = 0;
    return n;
}

bool templateSpan(unsigned number, uint32_t* offset, uint32_t* length) {
    const uint8_t* blob = state.templateBlob;
    uint32_t size = state.templateBlobSize;
    if (!blob || size < 4) return false;
    uint32_t first;
    memcpy(&first, blob, 4);
    // The index has no count: it runs up to the first template.
    uint32_t indexEntries = (first < size ? first : size) / 4;
    if (number >= indexEntries) return false;
    uint32_t at;
    memcpy(&at, blob + 4 * number, 4);
    if (at >= size) return false;
    uint32_t rest = size - at;
    *offset = at;
    *length = rest < TEMPLATE_COPY_SIZE ? rest : TEMPLATE_COPY_SIZE;
    // The platform reads the copy as far as the template's own structure
    // goes: all of it must lie within what the copy receives.
    return walkDialogTemplate(blob + at, *length) != 0;
}
