// The file checksum that identifies file versions: rotate the running value
// left by one bit and add each little-endian 32-bit word, then each remaining
// byte. Summing a file in chunks whose sizes are multiples of 4, passing each
// result on as the next seed, equals one pass over the whole file.
//
// Known blind spots (callers compare sizes too): leading zero words do not
// change the sum, and swapping two words 32 words apart leaves it unchanged.
#pragma once
#include <stdint.h>

uint32_t fileChecksum(const void* buffer, uint32_t length, uint32_t seed);
