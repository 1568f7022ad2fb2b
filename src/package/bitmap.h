// Pictures of the package (PackageBitmap): the whole image of a BMP file,
// laid out as format.h describes (BitmapInfoHeader).
//
// checkBitmap decides whether the installer may draw a picture at all: the
// info header says 40 bytes, a positive width and height, 1, 4, 8, 16, 24
// or 32 bits per pixel, no compression; and the headers, the
// colour table and every row lie within the `size` bytes of the record. The
// loader keeps only pictures that pass, so the frame and the background
// (StretchDIBits, the palette) never read past a picture's block; updpack
// refuses to write a picture that would not pass.
//
// Platform-free: the stub, updpack and the tests share it.
#pragma once
#include <stdint.h>

#include "package/format.h"

bool checkBitmap(const uint8_t* image, uint32_t size);

// The info header of a picture.
inline const BitmapInfoHeader* bitmapHeader(const uint8_t* image) {
    return reinterpret_cast<const BitmapInfoHeader*>(image + BITMAP_FILE_HEADER_SIZE);
}
// Entries of the colour table (4 bytes each).
uint32_t bitmapColours(const uint8_t* image);
// Offset of the first row: behind the headers and the colour table.
uint32_t bitmapRowsOffset(const uint8_t* image);
