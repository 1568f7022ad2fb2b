// XXH64, written from its published description, lean for the stub: one
// loop over the four lanes of a stripe, which also carries the file
// checksum's rotate-and-add over the same words.
#include "engine/digest.h"

#include <string.h>


// The five primes of XXH64.
static const uint64_t PRIME1 = 0x9E3779B185EBCA87ull;
static const uint64_t PRIME2 = 0xC2B2AE3D27D4EB4Full;
static const uint64_t PRIME3 = 0x165667B19E3779F9ull;
static const uint64_t PRIME4 = 0x85EBCA77C2B2AE63ull;
static const uint64_t PRIME5 = 0x27D4EB2F165667C5ull;

static inline uint64_t rotl64(uint64_t x, unsigned r) { return (x << r) | (x >> (64 - r)); }
static inline uint32_t rotl32(uint32_t x) { return (x << 1) | (x >> 31); }

// One lane step: the accumulator takes an 8-byte word.
static uint64_t laneRound(uint64_t acc, uint64_t input) {
    acc += input * PRIME2;
    return rotl64(acc, 31) * PRIME1;
}

static uint64_t load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);  // little-endian x86 only
    return v;
}

void digestBegin(FileDigest* d) {
    d->lane[0] = PRIME1 + PRIME2;
    d->lane[1] = PRIME2;
    d->lane[2] = 0;
    d->lane[3] = 0 - PRIME1;
    d->length = 0;
}

uint32_t digestStripes(FileDigest* d, const uint8_t* p, uint32_t n, uint32_t sum) {
    d->length += n;
    // The lanes in locals: stores through d could alias the bytes read.
    uint64_t v[4];
    memcpy(v, d->lane, sizeof v);
    for (uint32_t i = 0; i < n; i += DIGEST_STRIPE)
        for (int k = 0; k < 4; k++) {
            uint64_t w = load64(p + i + 8 * k);
            v[k] = laneRound(v[k], w);
            sum = rotl32(sum) + static_cast<uint32_t>(w);
            sum = rotl32(sum) + static_cast<uint32_t>(w >> 32);
        }
    memcpy(d->lane, v, sizeof v);
    return sum;
}

uint64_t digestEnd(FileDigest* d, const uint8_t* p, uint32_t n) {
    uint64_t h;
    if (d->length) {
        const uint64_t* v = d->lane;
        h = rotl64(v[0], 1) + rotl64(v[1], 7) + rotl64(v[2], 12) + rotl64(v[3], 18);
        for (int k = 0; k < 4; k++) h = (h ^ laneRound(0, v[k])) * PRIME1 + PRIME4;
    } else {
        h = PRIME5;
    }
    h += d->length + n;
    for (; n >= 8; n -= 8, p += 8) h = rotl64(h ^ laneRound(0, load64(p)), 27) * PRIME1 + PRIME4;
    if (n >= 4) {
        uint32_t w;
        memcpy(&w, p, 4);
        h = rotl64(h ^ (w * PRIME1), 23) * PRIME2 + PRIME3;
        n -= 4;
        p += 4;
    }
    for (; n; n--, p++) h = rotl64(h ^ (*p * PRIME5), 11) * PRIME1;
    h ^= h >> 33;
    h *= PRIME2;
    h ^= h >> 29;
    h *= PRIME3;
    return h ^ (h >> 32);
}

uint64_t bufferDigest(const void* buffer, uint32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    FileDigest d;
    digestBegin(&d);
    uint32_t whole = length & ~(DIGEST_STRIPE - 1);
    digestStripes(&d, p, whole, 0);
    return digestEnd(&d, p + whole, length - whole);
}
