// Reading raw Deflate (RFC 1951) back into blocks of symbols.
//
// The compressor (pkg/compress.cpp) lets libdeflate choose the matches, the
// block boundaries and the Huffman codes, then reads libdeflate's output
// with parseDeflate and writes each block again in the package's format.
// parseDeflate throws std::runtime_error for a stream that ends early, a
// code with no symbol or a block type Deflate does not have; it decodes one
// bit at a time, since it only reads output the compressor just made.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pkg {

struct DeflateSymbol {
    uint16_t litlen;       // 0-285
    uint16_t lengthExtra;  // value of the length's extra bits
    uint16_t dist;         // distance symbol (matches only)
    uint16_t distExtra;
};

struct DeflateBlock {
    int type;           // 0 stored, 1 fixed, 2 dynamic (RFC 1951 numbers)
    size_t start, end;  // range of the uncompressed input
    std::vector<DeflateSymbol> symbols;
    std::vector<uint8_t> litLengths, distLengths;  // dynamic only
};

std::vector<DeflateBlock> parseDeflate(const uint8_t* p, size_t n);

// Code lengths of the fixed literal/length code (288 symbols).
std::vector<uint8_t> fixedLiteralLengths();

}  // namespace pkg
