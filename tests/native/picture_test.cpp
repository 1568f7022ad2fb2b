// Pictures a publisher gives as PNG reach the installer as the 24-bit
// bottom-up BMP it draws; BMPs pass unchanged; anything the reader cannot
// take is refused with the file named, never turned into a wrong picture.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "pkg/picture.h"

namespace {

using pkg::Bytes;

void be32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void chunk(Bytes& png, const char* type, const Bytes& data) {
    be32(png, static_cast<uint32_t>(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    be32(png, libdeflate_crc32(0, png.data() + start, png.size() - start));
}

// A PNG of `rows` (unfiltered pixel bytes), row y written with filter
// filters[y % n]; the encoder side of the five filters.
Bytes makePng(uint32_t width, const std::vector<Bytes>& rows, uint8_t colourType, size_t bpp,
              const std::vector<uint8_t>& filters, const Bytes& palette = {}, uint8_t depth = 8,
              uint8_t interlace = 0) {
    Bytes raw;
    for (size_t y = 0; y < rows.size(); y++) {
        uint8_t f = filters[y % filters.size()];
        raw.push_back(f);
        for (size_t i = 0; i < rows[y].size(); i++) {
            int x = rows[y][i], a = i >= bpp ? rows[y][i - bpp] : 0, b = y ? rows[y - 1][i] : 0,
                c = y && i >= bpp ? rows[y - 1][i - bpp] : 0;
            int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            int predictor[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            raw.push_back(static_cast<uint8_t>(x - (f <= 4 ? predictor[f] : 0)));
        }
    }
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    Bytes z(libdeflate_zlib_compress_bound(c, raw.size()));
    z.resize(libdeflate_zlib_compress(c, raw.data(), raw.size(), z.data(), z.size()));
    libdeflate_free_compressor(c);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    be32(ihdr, width);
    be32(ihdr, static_cast<uint32_t>(rows.size()));
    ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, interlace});
    chunk(png, "IHDR", ihdr);
    if (!palette.empty()) chunk(png, "PLTE", palette);
    chunk(png, "IDAT", Bytes(z.begin(), z.begin() + z.size() / 2));  // image data split over two chunks
    chunk(png, "IDAT", Bytes(z.begin() + z.size() / 2, z.end()));
    chunk(png, "IEND", {});
    return png;
}

// The BMP pixel (x, y from the top) as r, g, b.
std::array<int, 3> pixel(const Bytes& bmp, int x, int y) {
    int width, height;
    std::memcpy(&width, &bmp[18], 4);
    std::memcpy(&height, &bmp[22], 4);
    size_t row = (width * 3 + 3) & ~3;
    const uint8_t* p = &bmp[54 + (height - 1 - y) * row + 3 * x];
    return {p[2], p[1], p[0]};
}

std::string refusal(const Bytes& file) {
    try {
        pkg::pictureAsBmp(file, "pic.png");
    } catch (const pkg::PictureError& e) {
        return e.what();
    }
    return "";
}

// Rows of a 3 x 5 RGB picture whose bytes make every predictor matter.
std::vector<Bytes> rgbRows() {
    std::vector<Bytes> rows;
    for (int y = 0; y < 5; y++) {
        Bytes r;
        for (int x = 0; x < 3; x++)
            for (int ch = 0; ch < 3; ch++) r.push_back(static_cast<uint8_t>(37 * x + 91 * y + 61 * ch + x * y * 13));
        rows.push_back(r);
    }
    return rows;
}

TEST(Picture, EveryFilterDecodesToTheSamePixels) {
    auto rows = rgbRows();
    for (uint8_t f = 0; f <= 4; f++) {
        Bytes bmp = pkg::pictureAsBmp(makePng(3, rows, 2, 3, {f, 4, 3, 2, 1}), "pic.png");
        ASSERT_EQ(bmp.size(), 54u + 12 * 5) << "rows of 9 bytes padded to 12";
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[28], 24);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 3; x++)
                EXPECT_EQ(pixel(bmp, x, y), (std::array<int, 3>{rows[y][3 * x], rows[y][3 * x + 1], rows[y][3 * x + 2]}))
                    << "filter " << int(f) << " at " << x << "," << y;
    }
}

TEST(Picture, GreyPaletteAndAlphaBecomeRgbOverWhite) {
    Bytes grey = pkg::pictureAsBmp(makePng(2, {{10, 200}}, 0, 1, {1}), "g.png");
    EXPECT_EQ(pixel(grey, 1, 0), (std::array<int, 3>{200, 200, 200}));
    Bytes palette = {255, 0, 0, 0, 0, 255};
    Bytes indexed = pkg::pictureAsBmp(makePng(2, {{1, 0}}, 3, 1, {0}, palette), "p.png");
    EXPECT_EQ(pixel(indexed, 0, 0), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(pixel(indexed, 1, 0), (std::array<int, 3>{255, 0, 0}));
    Bytes rgba = pkg::pictureAsBmp(makePng(2, {{0, 0, 0, 0, 0, 0, 0, 255}}, 6, 4, {2}), "a.png");
    EXPECT_EQ(pixel(rgba, 0, 0), (std::array<int, 3>{255, 255, 255})) << "transparent shows white";
    EXPECT_EQ(pixel(rgba, 1, 0), (std::array<int, 3>{0, 0, 0}));
    Bytes greyAlpha = pkg::pictureAsBmp(makePng(1, {{0, 128}}, 4, 2, {0}), "ga.png");
    EXPECT_EQ(pixel(greyAlpha, 0, 0)[0], 127);
    EXPECT_NE(refusal(makePng(1, {{5}}, 3, 1, {0}, palette)).find("colour its palette lacks"), std::string::npos);
}

TEST(Picture, UnsupportedOrDamagedFilesAreRefusedByName) {
    auto rows = rgbRows();
    EXPECT_NE(refusal(makePng(3, rows, 2, 3, {0}, {}, 8, 1)).find("pic.png: interlaced"), std::string::npos);
    EXPECT_NE(refusal(makePng(3, rows, 2, 3, {0}, {}, 16)).find("16-bit samples"), std::string::npos);
    Bytes damaged = makePng(3, rows, 2, 3, {0});
    damaged[40] ^= 1;
    EXPECT_NE(refusal(damaged).find("CRC"), std::string::npos);
    Bytes cut = makePng(3, rows, 2, 3, {0});
    cut.resize(cut.size() - 12);
    EXPECT_NE(refusal(cut).find("no IEND"), std::string::npos);
    EXPECT_NE(refusal(makePng(3, {Bytes(9), Bytes(9)}, 2, 3, {7})).find("unknown filter type"), std::string::npos);
    EXPECT_NE(refusal(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}).find("not a BMP or PNG"), std::string::npos);
}

TEST(Picture, BmpsPassUnchangedUnlessTheInstallerCouldNotDrawThem) {
    Bytes bmp = pkg::pictureAsBmp(makePng(3, rgbRows(), 2, 3, {0}), "pic.png");
    EXPECT_EQ(pkg::pictureAsBmp(bmp, "pic.bmp"), bmp);
    Bytes topDown = bmp;
    topDown[25] = 0xFF;  // height -> negative
    EXPECT_NE(refusal(topDown).find("bottom-up"), std::string::npos);
    Bytes cut(bmp.begin(), bmp.end() - 1);
    EXPECT_NE(refusal(cut).find("cut short"), std::string::npos);
}

}  // namespace
