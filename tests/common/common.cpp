#include "common.h"

#include <cstring>
#include <exception>

namespace testcommon {

namespace {
uint32_t step(uint32_t s) { return s * 1664525 + 1013904223; }
}  // namespace

const char* const kWindowsWords[10] = {"alpha ", "beta ", "gamma\r\n", "delta ",  "update ",
                                       "file ",  "the ",  "installer ", "volume ", "stream "};

Bytes noise(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        seed = step(seed);
        b[i] = static_cast<uint8_t>(seed >> 24);
    }
    return b;
}

Bytes codeLike(size_t n, uint32_t seed, uint32_t shift, uint32_t slots, unsigned registerBits) {
    Bytes b;
    b.reserve(n + 8);
    uint32_t s = seed;
    while (b.size() < n) {
        s = step(s);
        uint32_t slot = (s >> 8) & (slots - 1);
        uint32_t address = 0x401000 + slot * 4 + (slot > slots / 2 ? shift : 0);
        uint8_t rec[8] = {0x8B, 0x45, static_cast<uint8_t>(s >> (32 - registerBits)), 0xE8};
        std::memcpy(rec + 4, &address, 4);
        b.insert(b.end(), rec, rec + 8);
    }
    b.resize(n);
    return b;
}

Bytes words(size_t n, uint32_t seed, const char* const* vocabulary, size_t count) {
    Bytes b;
    while (b.size() < n) {
        seed = step(seed);
        const char* w = vocabulary[(seed >> 20) % count];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace testcommon
