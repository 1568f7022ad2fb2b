#include "pkg/compress.h"

namespace pkg {

std::vector<uint8_t> storeStream(const uint8_t* data, size_t size) {
    // Stored block: 4-bit header (type 7, bit 3 = last), pad to the byte,
    // 16-bit LEN, LEN bytes. An empty input still needs one (empty) block.
    std::vector<uint8_t> out;
    size_t pos = 0;
    do {
        size_t len = size - pos < 65535 ? size - pos : 65535;
        bool last = pos + len == size;
        out.push_back(static_cast<uint8_t>(7 | (last ? 8 : 0)));
        out.push_back(static_cast<uint8_t>(len & 0xFF));
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.insert(out.end(), data + pos, data + pos + len);
        pos += len;
    } while (pos < size);
    return out;
}

std::vector<uint8_t> compressStream(const uint8_t* data, size_t size) {
    return storeStream(data, size);
}

}  // namespace pkg
