#include "package/checksum.h"

#include <string.h>

uint32_t fileChecksum(const void* buffer, uint32_t length, uint32_t seed) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    uint32_t a = seed;
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; i++, p += 4) {
        uint32_t w;
        memcpy(&w, p, 4);  // the stub runs on little-endian x86 only
        a = ((a << 1) | (a >> 31)) + w;
    }
    for (uint32_t i = 0; i < (length & 3); i++)
        a = ((a << 1) | (a >> 31)) + p[i];
    return a;
}
