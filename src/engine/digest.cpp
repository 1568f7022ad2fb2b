// XXH64, written from its published description, lean for the stub: one
// loop over the four lanes of a stripe, which also carries the file
// checksum's rotate-and-add over the same words.
#include "engine/digest.h"

#include <string.h>


// The five primes of XXH64.
static const uint64_t PRIME[6] = {0, 0x9E3779B185EBCA87ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                                  0x85EBCA77C2B2AE63ull, 0x27D4EB2F165667C5ull};
enum { P0 = 0, P1 = 1, P2 = 2, P3 = 3, P4 = 4, P5 = 5 };  // P0: adds nothing

// r = 0 leaves x as it is.
static inline uint64_t rotl64(uint64_t x, unsigned r) { return (x << r) | (x >> ((64 - r) & 63)); }
static inline uint32_t rotl32(uint32_t x) { return (x << 1) | (x >> 31); }

// One lane step: the accumulator takes an 8-byte word.
static inline uint64_t laneRound(uint64_t acc, uint64_t input) {
    acc += input * PRIME[P2];
    return rotl64(acc, 31) * PRIME[P1];
}

// The ending runs once per file and is written for size: on i686 every
// 64-bit product is a dozen instructions, so it has one, in mixStep.
// rotl(h ^ x, r) * PRIME[mul] + PRIME[add].
__attribute__((noinline)) static uint64_t mixStep(uint64_t h, uint64_t x, unsigned r, int mul, int add) {
    return rotl64(h ^ x, r) * PRIME[mul] + PRIME[add];
}
// laneRound(0, x).
static uint64_t finalRound(uint64_t x) { return mixStep(0, mixStep(0, x, 0, P2, P0), 31, P1, P0); }

// The tail after the stripes is taken 8, then 4, then 1 byte at a time;
// per width: the prime the word is multiplied by first (0: a lane round
// instead), then rotation, multiplier and addend of the step.
static const uint8_t TAIL_WIDTH[3] = {8, 4, 1};
static const uint8_t TAIL_PRIME[3] = {P0, P1, P5};
static const uint8_t TAIL_ROTATE[3] = {27, 23, 11};
static const uint8_t TAIL_MUL[3] = {P1, P2, P1};
static const uint8_t TAIL_ADD[3] = {P4, P3, P0};
static const uint8_t MERGE_ROTATE[4] = {1, 7, 12, 18};

static uint64_t load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);  // little-endian x86 only
    return v;
}

// The lanes' starting values for seed 0: P1 + P2, P2, 0, -P1.
static const uint64_t LANE_START[4] = {0x9E3779B185EBCA87ull + 0xC2B2AE3D27D4EB4Full, 0xC2B2AE3D27D4EB4Full, 0,
                                       0 - 0x9E3779B185EBCA87ull};

void digestBegin(FileDigest* d) {
    memcpy(d->lane, LANE_START, sizeof LANE_START);
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
    uint64_t h = PRIME[P5];
    if (d->length) {
        h = 0;
        for (int k = 0; k < 4; k++) h += rotl64(d->lane[k], MERGE_ROTATE[k]);
        for (int k = 0; k < 4; k++) h = mixStep(h, finalRound(d->lane[k]), 0, P1, P4);
    }
    h += d->length + n;
    while (n) {
        int kind = n >= 8 ? 0 : n >= 4 ? 1 : 2;
        uint64_t w = 0;
        memcpy(&w, p, TAIL_WIDTH[kind]);
        p += TAIL_WIDTH[kind];
        n -= TAIL_WIDTH[kind];
        uint64_t x = kind ? mixStep(0, w, 0, TAIL_PRIME[kind], P0) : finalRound(w);
        h = mixStep(h, x, TAIL_ROTATE[kind], TAIL_MUL[kind], TAIL_ADD[kind]);
    }
    h = mixStep(h, h >> 33, 0, P2, P0);
    h = mixStep(h, h >> 29, 0, P3, P0);
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
