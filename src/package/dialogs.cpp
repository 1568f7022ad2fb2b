#include "package/dialogs.h"

#include <string.h>

namespace {

const uint32_t DS_SETFONT_STYLE = 0x40;

// Each step takes the position of a part and returns the position behind
// it, or null when the part does not end by `end`; null stays null.

const uint8_t* skip(const uint8_t* p, const uint8_t* end, uint32_t n) {
    return p && static_cast<uint32_t>(end - p) >= n ? p + n : 0;
}

// A NUL-terminated UTF-16 string.
const uint8_t* string(const uint8_t* p, const uint8_t* end) {
    for (; p && end - p >= 2; p += 2)
        if (!(p[0] | p[1])) return p + 2;
    return 0;
}

// 0xFFFF and an ordinal, or a string (0x0000 alone is the empty one).
const uint8_t* nameOrOrdinal(const uint8_t* p, const uint8_t* end) {
    if (p && end - p >= 2 && (p[0] & p[1]) == 0xFF) return skip(p, end, 4);
    return string(p, end);
}

// Little-endian values, as the hosts (x86) hold them.
uint16_t word(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

// Extended headers have the signature 0xFFFF at 2. The style stands at 0
// (classic) or 12 (extended), the item count at 8 or 16, and the box (x, y,
// cx, cy) just behind the count.
bool isExtended(const uint8_t* data) { return word(data + 2) == 0xFFFF; }
const uint8_t* itemCount(const uint8_t* data) { return data + (isExtended(data) ? 16 : 8); }
uint32_t styleOf(const uint8_t* data) {
    uint32_t v;
    memcpy(&v, data + (isExtended(data) ? 12 : 0), 4);
    return v;
}
// Menu and class, then the caption.
const uint8_t* caption(const uint8_t* data, const uint8_t* end) {
    return nameOrOrdinal(nameOrOrdinal(itemCount(data) + 10, end), end);
}

// Behind the header: the first item's position, or null when the font
// part does not lie within `end` or is refused.
#define WALK_STEP inline __attribute__((always_inline))
WALK_STEP const uint8_t* headerEnd(const uint8_t* data, const uint8_t* end, bool extended) {
    const uint8_t* p = string(caption(data, end), end);
    if (styleOf(data) & DS_SETFONT_STYLE) {
        // A point size of 0x7FFF makes some readers skip the rest.
        if (!p || end - p < 2 || word(p) == 0x7FFF) return 0;
        p = string(skip(p, end, extended ? 6 : 2), end);
    }
    return p;
}

// The item at p (aligned here to 4 bytes from the template's start) and the
// position behind it; *item gets the item's aligned start.
WALK_STEP const uint8_t* itemEnd(const uint8_t* p, const uint8_t* data, const uint8_t* end, bool extended,
                                 const uint8_t** item) {
    p = skip(p, end, (0u - static_cast<uint32_t>(p - data)) & 3);
    *item = p;
    p = nameOrOrdinal(nameOrOrdinal(skip(p, end, extended ? 24 : 18), end), end);
    // Creation data: a count and that many bytes; an odd count is read
    // differently by readers of the format.
    if (!p || end - p < 2 || (p[0] & 1)) return 0;
    return skip(p, end, 2 + word(p));
}

// Whether a template of `size` bytes may hold the header of its form.
WALK_STEP bool headerFits(const uint8_t* data, uint32_t size) {
    if (size < 18) return false;
    return !isExtended(data) || (size >= 26 && word(data) == 1);
}

}  // namespace

uint32_t walkDialogTemplate(const uint8_t* data, uint32_t size) {
    const uint8_t* end = data + size;
    if (!headerFits(data, size)) return 0;
    bool extended = isExtended(data);
    uint16_t items = word(itemCount(data));
    const uint8_t* p = headerEnd(data, end, extended);
    const uint8_t* item;
    for (uint16_t i = 0; i < items; i++) p = itemEnd(p, data, end, extended, &item);
    return p ? static_cast<uint32_t>(p - data) : 0;
}

uint32_t dialogControlIds(const uint8_t* data, uint32_t size, uint32_t* ids, uint32_t capacity) {
    uint32_t walked = walkDialogTemplate(data, size);
    if (!walked) return 0;
    const uint8_t* end = data + walked;
    bool extended = isExtended(data);
    uint16_t items = word(itemCount(data));
    const uint8_t* p = headerEnd(data, end, extended);
    for (uint16_t i = 0; i < items; i++) {
        const uint8_t* item;
        p = itemEnd(p, data, end, extended, &item);
        // The id: a WORD at 16 of a classic item, a DWORD at 20 of an
        // extended one.
        uint32_t id = word(item + (extended ? 20 : 16));
        if (extended) id |= uint32_t(word(item + 22)) << 16;
        if (i < capacity) ids[i] = id;
    }
    return items;
}

uint32_t describeDialogTemplate(const uint8_t* data, uint32_t size, DialogShape* shape) {
    uint32_t walked = walkDialogTemplate(data, size);
    if (!walked) return 0;
    const uint8_t* count = itemCount(data);
    shape->extended = isExtended(data);
    shape->style = styleOf(data);
    shape->items = word(count);
    shape->width = static_cast<int16_t>(word(count + 6));
    shape->height = static_cast<int16_t>(word(count + 8));
    shape->caption = static_cast<uint32_t>(caption(data, data + walked) - data);
    return walked;
}
