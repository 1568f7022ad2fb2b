// Dialog templates in the platform's in-memory format, as
// CreateDialogIndirectParamA, DialogBoxIndirectParamA and the save-file
// dialog read them. All values little-endian, strings UTF-16 with a NUL:
//
//   classic   DWORD style, DWORD exStyle, WORD items, short x, y, cx, cy
//   extended  WORD 1, WORD 0xFFFF, DWORD helpId, DWORD exStyle, DWORD style,
//             WORD items, short x, y, cx, cy
//   then      menu and class (each 0x0000 = none, 0xFFFF and an ordinal, or
//             a string), the caption (a string); with DS_SETFONT (0x40) the
//             point size (WORD), for extended templates weight (WORD),
//             italic and character set (BYTE each), then the face (a string)
//   items     each starting on a 4-byte boundary from the template's start:
//             classic  DWORD style, DWORD exStyle, short x, y, cx, cy, WORD id
//             extended DWORD helpId, DWORD exStyle, DWORD style,
//                      short x, y, cx, cy, DWORD id
//             then class and title (0xFFFF and an ordinal, or a string) and
//             the creation data: a WORD count and that many bytes.
//
// walkDialogTemplate follows every part within `size` bytes and returns the
// bytes the template takes, or 0 when a part lies outside them. It also
// refuses what readers of the format take differently, so that what it
// walked is what the platform reads: a point size of 0x7FFF (some readers
// then skip the face, others do not), an odd creation-data count, and a
// 0xFFFF signature with a version other than 1.
//
// Platform-free: the stub walks every template copy before it creates a
// dialog from it, updpack inspect describes templates with it.
#pragma once
#include <stdint.h>

struct DialogShape {
    bool extended;
    uint32_t style;
    uint16_t items;
    int16_t width, height;  // dialog units
    uint32_t caption;       // offset of the caption string
};

uint32_t walkDialogTemplate(const uint8_t* data, uint32_t size);
// The walk, and on success the template's shape (for inspect and tests).
uint32_t describeDialogTemplate(const uint8_t* data, uint32_t size, DialogShape* shape);
// The walk, and on success the control ids of its items in order (the
// first `capacity` of them): returns the number of items, 0 when the walk
// refuses the template. For updpack and tests; the stub's linker drops it.
uint32_t dialogControlIds(const uint8_t* data, uint32_t size, uint32_t* ids, uint32_t capacity);
