#include "package/bitmap.h"

uint32_t bitmapColours(const uint8_t* image) {
    const BitmapInfoHeader* h = bitmapHeader(image);
    if (h->clrUsed) return h->clrUsed;
    return h->bitCount <= 8 ? 1u << h->bitCount : 0;
}

uint32_t bitmapRowsOffset(const uint8_t* image) {
    return BITMAP_FILE_HEADER_SIZE + sizeof(BitmapInfoHeader) + 4 * bitmapColours(image);
}

// Wider pictures are refused: the largest side any screen or wizard has is
// far below, and the bound keeps the row size within 32 bits.
const int32_t BITMAP_MAX_WIDTH = 0xFFFFFF;

bool checkBitmap(const uint8_t* image, uint32_t size) {
    const uint32_t headers = BITMAP_FILE_HEADER_SIZE + sizeof(BitmapInfoHeader);
    if (!image || size < headers) return false;
    const BitmapInfoHeader* h = bitmapHeader(image);
    uint32_t bits = h->bitCount;
    if (h->size != sizeof *h || h->width <= 0 || h->width > BITMAP_MAX_WIDTH || h->height <= 0 ||
        h->compression != 0)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    // The colour table, then the rows; a table larger than the record is
    // refused before it is multiplied.
    uint32_t room = size - headers;
    uint32_t colours = bitmapColours(image);
    if (colours > room / 4) return false;
    room -= 4 * colours;
    uint32_t rowBytes = (static_cast<uint32_t>(h->width) * bits + 31) / 32 * 4;
    return rowBytes <= room && static_cast<uint32_t>(h->height) <= room / rowBytes;
}
