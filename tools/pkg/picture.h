// Pictures for the package: the installer draws a BMP file image (14-byte
// file header, 40-byte BITMAPINFOHEADER, colour table, bottom-up rows).
//
// pictureAsBmp takes a publisher's picture file as it is when it is such a
// BMP, and converts a PNG into a 24-bit bottom-up BMP. The PNG reader takes
// non-interlaced images of 8 bits per sample: grey, grey with alpha, RGB,
// RGBA and palette images; alpha is blended over white. Anything else (16-bit
// samples, 1-4 bit palettes, interlacing, a damaged file, a BMP the installer
// could not draw) throws PictureError naming `what` and the reason.
#pragma once
#include <stdexcept>
#include <string>

#include "pkg/writer.h"

namespace pkg {

struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Bytes pictureAsBmp(const Bytes& file, const std::string& what);

// The PNG's pixels as a 24-bit BMP file image.
Bytes pngToBmp(const Bytes& png, const std::string& what);

}  // namespace pkg
