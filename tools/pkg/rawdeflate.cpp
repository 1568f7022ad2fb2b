// Reads raw Deflate back into blocks of symbols (see pkg/rawdeflate.h).
#include "pkg/rawdeflate.h"

#include <stdexcept>

#include "package/streamformat.h"

namespace pkg {

namespace {

// RFC 1951's transmission order of the code-length code lengths (the
// package's own order is streamcodes::CODE_LENGTH_ORDER).
const uint8_t RFC_CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

class BitReader {
public:
    BitReader(const uint8_t* p, size_t n) : data_(p), size_(n) {}
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; i++) v |= static_cast<uint32_t>(bit()) << i;
        return v;
    }
    int bit() {
        if (pos_ >= size_ * 8) throw std::runtime_error("deflate stream ended early");
        int b = (data_[pos_ >> 3] >> (pos_ & 7)) & 1;
        pos_++;
        return b;
    }
    void alignToByte() { pos_ = (pos_ + 7) & ~size_t(7); }
    size_t bytePos() const { return pos_ >> 3; }
    void skipBytes(size_t n) { pos_ += n * 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Canonical Huffman decoding, one bit at a time (we only read libdeflate's
// output, so speed hardly matters).
class Decoder {
public:
    explicit Decoder(const std::vector<uint8_t>& lengths) {
        count_.assign(16, 0);
        for (uint8_t l : lengths) count_[l]++;
        count_[0] = 0;
        std::vector<int> offs(16, 0);
        for (int l = 1; l < 15; l++) offs[l + 1] = offs[l] + count_[l];
        symbols_.resize(lengths.size());
        for (size_t s = 0; s < lengths.size(); s++)
            if (lengths[s]) symbols_[offs[lengths[s]]++] = static_cast<int>(s);
    }
    int decode(BitReader& in) const {
        int code = 0, first = 0, index = 0;
        for (int l = 1; l <= 15; l++) {
            code |= in.bit();
            int c = count_[l];
            if (code - c < first) return symbols_[index + (code - first)];
            index += c;
            first = (first + c) << 1;
            code <<= 1;
        }
        throw std::runtime_error("bad code in deflate stream");
    }

private:
    std::vector<int> count_, symbols_;
};

}  // namespace

std::vector<uint8_t> fixedLiteralLengths() {
    std::vector<uint8_t> l(FIXED_LITERAL_CODES);
    for (uint32_t i = 0; i < FIXED_LITERAL_CODES; i++)
        l[i] = i < FIXED_8_END ? 8 : i < FIXED_9_END ? 9 : i < FIXED_7_END ? 7 : 8;
    return l;
}

std::vector<DeflateBlock> parseDeflate(const uint8_t* p, size_t n) {
    std::vector<DeflateBlock> blocks;
    BitReader in(p, n);
    size_t out = 0;
    bool last = false;
    while (!last) {
        last = in.bit();
        DeflateBlock b;
        b.type = static_cast<int>(in.bits(2));
        b.start = out;
        if (b.type == 0) {
            in.alignToByte();
            uint32_t len = in.bits(16);
            in.bits(16);
            in.skipBytes(len);
            out += len;
        } else if (b.type == 1 || b.type == 2) {
            std::vector<uint8_t> lit, dist;
            if (b.type == 1) {
                lit = fixedLiteralLengths();
                dist.assign(FIXED_DISTANCE_CODES, FIXED_DISTANCE_BITS);
            } else {
                uint32_t nl = in.bits(5) + FIRST_LENGTH_SYMBOL, nd = in.bits(5) + 1, nc = in.bits(4) + 4;
                std::vector<uint8_t> cl(CODE_LENGTH_CODES, 0);
                for (uint32_t i = 0; i < nc; i++) cl[RFC_CODE_LENGTH_ORDER[i]] = static_cast<uint8_t>(in.bits(3));
                Decoder clDec(cl);
                std::vector<uint8_t> all;
                while (all.size() < nl + nd) {
                    int s = clDec.decode(in);
                    if (s < 16) {
                        all.push_back(static_cast<uint8_t>(s));
                    } else if (s == 16) {
                        uint8_t prev = all.back();
                        all.insert(all.end(), 3 + in.bits(2), prev);
                    } else if (s == 17) {
                        all.insert(all.end(), 3 + in.bits(3), 0);
                    } else {
                        all.insert(all.end(), 11 + in.bits(7), 0);
                    }
                }
                lit.assign(all.begin(), all.begin() + nl);
                dist.assign(all.begin() + nl, all.begin() + nl + nd);
                b.litLengths = lit;
                b.distLengths = dist;
            }
            Decoder litDec(lit), distDec(dist);
            for (;;) {
                DeflateSymbol s = {};
                s.litlen = static_cast<uint16_t>(litDec.decode(in));
                if (s.litlen < END_OF_BLOCK) {
                    out++;
                } else if (s.litlen > END_OF_BLOCK) {
                    int li = s.litlen - FIRST_LENGTH_SYMBOL;
                    s.lengthExtra = static_cast<uint16_t>(in.bits(streamcodes::LENGTH_EXTRA[li]));
                    s.dist = static_cast<uint16_t>(distDec.decode(in));
                    s.distExtra = static_cast<uint16_t>(in.bits(streamcodes::DISTANCE_EXTRA[s.dist]));
                    out += streamcodes::LENGTH_BASE[li] + s.lengthExtra;
                }
                b.symbols.push_back(s);
                if (s.litlen == END_OF_BLOCK) break;
            }
        } else {
            throw std::runtime_error("bad deflate block type");
        }
        b.end = out;
        blocks.push_back(std::move(b));
    }
    return blocks;
}

}  // namespace pkg
