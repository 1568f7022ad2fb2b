// The package's compressed stream format: the facts that its decoder
// (package/inflate.cpp), the compressor (tools/pkg/compress.cpp) and the
// tests' bit writers share.
//
// The format is Deflate (RFC 1951) with three differences: a 4-bit block
// header (bits 0-2 the type, bit 3 the last block), stored blocks carry LEN
// but no NLEN, and the code-length code lengths come in the order of
// CODE_LENGTH_ORDER. Lengths, distances and the fixed codes are RFC 1951's.
//
// The tables are const arrays with internal linkage: a unit that reads none
// of them carries no copy, so the stub holds each once (in the decoder).
#pragma once
#include <stdint.h>

// Block types (bits 0-2 of the header); types 0-4 are refused.
enum {
    BLOCK_FIXED = 5,
    BLOCK_DYNAMIC = 6,
    BLOCK_STORED = 7,
    BLOCK_LAST = 8  // bit 3: no block follows
};
const int BLOCK_HEADER_BITS = 4;
// A stored block: header, pad to the byte, 16-bit LEN, LEN bytes.
const uint32_t STORED_BLOCK_MAX = 65535;

const uint32_t END_OF_BLOCK = 256;
const uint32_t FIRST_LENGTH_SYMBOL = 257;
// Most literal/length and distance codes a dynamic block may declare (HLIT,
// HDIST), and the sizes of the fixed block's alphabets.
const uint32_t LITERAL_CODES_MAX = 286;
const uint32_t DISTANCE_CODES_MAX = 30;
const uint32_t CODE_LENGTH_CODES = 19;
const uint32_t FIXED_LITERAL_CODES = 288;
const uint32_t FIXED_DISTANCE_CODES = 30;

// Fixed codes: literal/length symbols below FIXED_8_END are 8 bits long,
// then 9 bits up to FIXED_9_END, 7 bits up to FIXED_7_END, 8 bits after;
// every distance code is 5 bits long.
const uint32_t FIXED_8_END = 144;
const uint32_t FIXED_9_END = 256;
const uint32_t FIXED_7_END = 280;
const int FIXED_DISTANCE_BITS = 5;

// The extra-bits entry of length symbols 286 and 287, which have no length:
// the decoder makes it an invalid code.
const uint16_t LENGTH_EXTRA_NONE = 100;

// The tables sit in a namespace of their own so that the stub's linker,
// which sorts read-only data by mangled name, keeps them side by side and
// ahead of the decoder's small constants: each is aligned to 32 bytes, and
// a 4-byte constant between them would cost 28 bytes of padding. (A
// namespace name of 10 or 11 letters sorts before the unnamed namespace.)
namespace streamcodes {

// RFC 1951 3.2.5: base lengths and extra bits of symbols 257-287.
const uint16_t LENGTH_BASE[31] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t LENGTH_EXTRA[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, LENGTH_EXTRA_NONE, LENGTH_EXTRA_NONE};
// RFC 1951 3.2.5: base distances and extra bits of distance symbols 0-29.
const uint16_t DISTANCE_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                    33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint16_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Transmission order of the code-length code lengths (not RFC 1951's).
const uint8_t CODE_LENGTH_ORDER[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

}  // namespace streamcodes
