// Compressor for the package's stream format.
//
// compressStream returns one complete stream (last-block flag on its final
// block) that the installer's decoder reads back to exactly the input. It
// picks whatever is smallest: compressed blocks where they pay, stored blocks
// (at most 65,535 bytes each) elsewhere. storeStream writes stored blocks
// only. Builds without a compression library (the Windows test programs)
// write stored streams from both.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pkg {

// level: libdeflate's, 1 (fast) to 12 (smallest).
std::vector<uint8_t> compressStream(const uint8_t* data, size_t size, int level = 12);
std::vector<uint8_t> storeStream(const uint8_t* data, size_t size);

}  // namespace pkg
