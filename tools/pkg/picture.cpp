#include "pkg/picture.h"

#include "package/bitmap.h"

#include <cstdlib>
#include <cstring>

#ifdef UPD_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace pkg {
namespace {

// Format notes (PNG, RFC 2083 / ISO 15948):
//   8-byte signature, then chunks: u32 length (big-endian), 4-byte type,
//   data, CRC-32 of type and data. IHDR first (width, height, bit depth,
//   colour type, compression 0, filter method 0, interlace), PLTE before
//   the image data, IDAT chunks whose data joined is one zlib stream, IEND.
//   The stream inflates to `height` rows, each a filter-type byte (0 none,
//   1 sub, 2 up, 3 average, 4 Paeth) and width x channels bytes.
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Larger pictures would not fit a wizard or a screen anyway; the bound keeps
// the arithmetic below far from overflow.
const uint32_t kMaxSide = 16384;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t le32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }
uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the row filters in place; rows are 1 + stride bytes, bpp the bytes
// per pixel that "sub", "average" and Paeth look back by.
void unfilter(Bytes& raw, uint32_t height, size_t stride, size_t bpp, const std::string& what) {
    const uint8_t* prior = nullptr;
    for (uint32_t y = 0; y < height; y++) {
        uint8_t* row = raw.data() + y * (stride + 1);
        uint8_t type = row[0];
        uint8_t* x = row + 1;
        for (size_t i = 0; i < stride; i++) {
            int a = i >= bpp ? x[i - bpp] : 0, b = prior ? prior[i] : 0, c = prior && i >= bpp ? prior[i - bpp] : 0;
            switch (type) {
            case 0: break;
            case 1: x[i] = static_cast<uint8_t>(x[i] + a); break;
            case 2: x[i] = static_cast<uint8_t>(x[i] + b); break;
            case 3: x[i] = static_cast<uint8_t>(x[i] + (a + b) / 2); break;
            case 4: x[i] = static_cast<uint8_t>(x[i] + paeth(a, b, c)); break;
            default: throw PictureError(what + ": PNG row " + std::to_string(y) + " has an unknown filter type");
            }
        }
        prior = x;
    }
}

uint8_t overWhite(uint8_t v, uint8_t alpha) { return static_cast<uint8_t>((v * alpha + 255 * (255 - alpha) + 127) / 255); }

// Checks what the installer relies on when it draws a BMP file image.
void checkBmp(const Bytes& b, const std::string& what) {
    if (b.size() < 54 || le32(b, 14) != 40)
        throw PictureError(what + ": a BMP needs the 40-byte BITMAPINFOHEADER the installer reads");
    int32_t width = static_cast<int32_t>(le32(b, 18)), height = static_cast<int32_t>(le32(b, 22));
    uint16_t bits = le16(b, 28);
    uint32_t compression = le32(b, 30), used = le32(b, 46);
    if (width <= 0 || height <= 0)
        throw PictureError(what + ": the BMP must be stored bottom-up with a positive width and height");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw PictureError(what + ": a BMP of " + std::to_string(bits) + " bits per pixel cannot be drawn");
    if (compression != 0) throw PictureError(what + ": the BMP must be uncompressed (BI_RGB)");
    uint64_t colours = used ? used : bits <= 8 ? 1u << bits : 0;
    uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
    if (54 + 4 * colours + rowBytes * uint64_t(height) > b.size())
        throw PictureError(what + ": the BMP is cut short");
    // The installer's own test, which everything above spells out.
    if (b.size() > RECORD_BUFFER_MAX || !checkBitmap(b.data(), static_cast<uint32_t>(b.size())))
        throw PictureError(what + ": the installer would not draw this BMP (" + std::to_string(b.size()) +
                           " bytes; at most " + std::to_string(RECORD_BUFFER_MAX) + ")");
}

}  // namespace

Bytes pngToBmp(const Bytes& png, const std::string& what) {
#ifndef UPD_HAVE_LIBDEFLATE
    throw PictureError(what + ": PNG pictures need a build with libdeflate");
#else
    if (png.size() < 8 || std::memcmp(png.data(), kPngSignature, 8) != 0)
        throw PictureError(what + ": not a PNG file");
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0;
    bool haveHeader = false, ended = false;
    Bytes palette, zdata;
    size_t at = 8;
    while (!ended) {
        if (png.size() - at < 12) throw PictureError(what + ": PNG cut short (no IEND chunk)");
        uint32_t length = be32(&png[at]);
        if (length > png.size() - at - 12) throw PictureError(what + ": PNG chunk at byte " + std::to_string(at) + " runs past the file");
        std::string type(reinterpret_cast<const char*>(&png[at + 4]), 4);
        const uint8_t* data = &png[at + 8];
        if (libdeflate_crc32(0, &png[at + 4], length + 4) != be32(data + length))
            throw PictureError(what + ": PNG chunk " + type + " is damaged (CRC mismatch)");
        if (!haveHeader && type != "IHDR") throw PictureError(what + ": PNG does not start with IHDR");
        if (type == "IHDR") {
            if (length != 13) throw PictureError(what + ": PNG header has the wrong size");
            width = be32(data);
            height = be32(data + 4);
            depth = data[8];
            colourType = data[9];
            if (data[10] != 0 || data[11] != 0) throw PictureError(what + ": unknown PNG compression or filter method");
            if (data[12] != 0) throw PictureError(what + ": interlaced PNGs are not supported; save it without interlacing");
            haveHeader = true;
        } else if (type == "PLTE") {
            if (length % 3 || length > 768) throw PictureError(what + ": PNG palette has a wrong size");
            palette.assign(data, data + length);
        } else if (type == "IDAT") {
            zdata.insert(zdata.end(), data, data + length);
        } else if (type == "IEND") {
            ended = true;
        } else if (!(type[0] & 0x20)) {
            throw PictureError(what + ": PNG holds a critical chunk " + type + " this reader does not know");
        }
        at += 12 + length;
    }
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        throw PictureError(what + ": PNG size " + std::to_string(width) + " x " + std::to_string(height) +
                           " (1 to 16,384 pixels each way)");
    size_t channels = colourType == 0 ? 1 : colourType == 2 ? 3 : colourType == 3 ? 1 : colourType == 4 ? 2 : colourType == 6 ? 4 : 0;
    if (!channels) throw PictureError(what + ": unknown PNG colour type " + std::to_string(colourType));
    if (depth != 8)
        throw PictureError(what + ": PNG with " + std::to_string(depth) +
                           "-bit samples; only 8 bits per sample are supported");
    if (colourType == 3 && palette.empty()) throw PictureError(what + ": palette PNG without a palette");

    size_t stride = size_t(width) * channels;
    Bytes raw(size_t(height) * (stride + 1));
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (!d) throw PictureError(what + ": out of memory");
    libdeflate_result result = libdeflate_zlib_decompress(d, zdata.data(), zdata.size(), raw.data(), raw.size(), nullptr);
    libdeflate_free_decompressor(d);
    if (result != LIBDEFLATE_SUCCESS) throw PictureError(what + ": PNG image data is damaged or of the wrong size");
    unfilter(raw, height, stride, channels, what);

    // 24-bit BMP: rows bottom-up, blue-green-red, padded to 4 bytes.
    size_t rowBytes = (size_t(width) * 3 + 3) & ~size_t(3);
    size_t bitsSize = rowBytes * height;
    Bytes bmp;
    bmp.push_back('B');
    bmp.push_back('M');
    put32(bmp, static_cast<uint32_t>(54 + bitsSize));
    put32(bmp, 0);
    put32(bmp, 54);
    for (uint32_t v : {40u, width, height}) put32(bmp, v);
    put16(bmp, 1);
    put16(bmp, 24);
    for (uint32_t v : {0u, static_cast<uint32_t>(bitsSize), 2835u, 2835u, 0u, 0u}) put32(bmp, v);
    bmp.resize(54 + bitsSize, 0);
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* src = raw.data() + size_t(y) * (stride + 1) + 1;
        uint8_t* dst = bmp.data() + 54 + size_t(height - 1 - y) * rowBytes;
        for (uint32_t x = 0; x < width; x++, src += channels, dst += 3) {
            uint8_t r, g, b, a = 255;
            switch (colourType) {
            case 0: r = g = b = src[0]; break;
            case 4: r = g = b = src[0]; a = src[1]; break;
            case 3:
                if (size_t(src[0]) * 3 >= palette.size())
                    throw PictureError(what + ": PNG pixel uses a colour its palette lacks");
                r = palette[src[0] * 3];
                g = palette[src[0] * 3 + 1];
                b = palette[src[0] * 3 + 2];
                break;
            case 2: r = src[0]; g = src[1]; b = src[2]; break;
            default: r = src[0]; g = src[1]; b = src[2]; a = src[3]; break;
            }
            dst[0] = overWhite(b, a);
            dst[1] = overWhite(g, a);
            dst[2] = overWhite(r, a);
        }
    }
    return bmp;
#endif
}

Bytes pictureAsBmp(const Bytes& file, const std::string& what) {
    if (file.size() >= 8 && std::memcmp(file.data(), kPngSignature, 8) == 0) return pngToBmp(file, what);
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') {
        checkBmp(file, what);
        return file;
    }
    throw PictureError(what + ": not a BMP or PNG picture");
}

}  // namespace pkg
