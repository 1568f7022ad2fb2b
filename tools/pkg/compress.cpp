// Compressor for the package's stream format.
//
// libdeflate (level 12) does the hard part: it chooses the matches, the block
// boundaries and the Huffman codes. Its raw Deflate output is parsed back into
// blocks of symbols, and each block is written again in our format, as the
// smallest of three forms:
//   dynamic  libdeflate's code lengths, with the code-length code sent in our
//            order (18, 17, 16, 0, 1, ..., 15); a code that our decoder would
//            refuse (incomplete, other than a lone 1-bit code) is completed
//            with dummy symbols first;
//   fixed    the RFC 1951 fixed codes;
//   stored   the block's bytes in stored blocks of at most 65,535 bytes
//            (LEN only, no NLEN).
// Every block starts with our 4-bit header (type 5/6/7, bit 3 on the last).
// Without libdeflate (the Windows test programs) every stream is stored.
#include "pkg/compress.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

#ifdef UPD_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

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

#ifdef UPD_HAVE_LIBDEFLATE
namespace {

// Our block types (bits 0-2 of the 4-bit header; bit 3 marks the last block).
const uint32_t BLOCK_TYPE_FIXED = 5, BLOCK_TYPE_DYNAMIC = 6, BLOCK_TYPE_STORED = 7;

// RFC 1951 3.2.5 length and distance tables.
const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Our transmission order of the code-length code lengths.
const uint8_t kOurOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// RFC 1951's order, for reading libdeflate's output.
const uint8_t kRfcOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Symbol {
    uint16_t litlen;      // 0-285
    uint16_t lengthExtra; // value of the length's extra bits
    uint16_t dist;        // distance symbol (matches only)
    uint16_t distExtra;
};

struct Block {
    int type;  // 0 stored, 1 fixed, 2 dynamic (RFC 1951 numbers)
    size_t start, end;  // range of the uncompressed input
    std::vector<Symbol> symbols;
    std::vector<uint8_t> litLengths, distLengths;  // dynamic only
};

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

std::vector<uint8_t> fixedLitLengths() {
    std::vector<uint8_t> l(288);
    for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

std::vector<Block> parseDeflate(const uint8_t* p, size_t n) {
    std::vector<Block> blocks;
    BitReader in(p, n);
    size_t out = 0;
    bool last = false;
    while (!last) {
        last = in.bit();
        Block b;
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
                lit = fixedLitLengths();
                dist.assign(30, 5);
            } else {
                uint32_t nl = in.bits(5) + 257, nd = in.bits(5) + 1, nc = in.bits(4) + 4;
                std::vector<uint8_t> cl(19, 0);
                for (uint32_t i = 0; i < nc; i++) cl[kRfcOrder[i]] = static_cast<uint8_t>(in.bits(3));
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
                Symbol s = {};
                s.litlen = static_cast<uint16_t>(litDec.decode(in));
                if (s.litlen < 256) {
                    out++;
                } else if (s.litlen > 256) {
                    int li = s.litlen - 257;
                    s.lengthExtra = static_cast<uint16_t>(in.bits(kLengthExtra[li]));
                    s.dist = static_cast<uint16_t>(distDec.decode(in));
                    s.distExtra = static_cast<uint16_t>(in.bits(kDistExtra[s.dist]));
                    out += kLengthBase[li] + s.lengthExtra;
                }
                b.symbols.push_back(s);
                if (s.litlen == 256) break;
            }
        } else {
            throw std::runtime_error("bad deflate block type");
        }
        b.end = out;
        blocks.push_back(std::move(b));
    }
    return blocks;
}

class BitWriter {
public:
    void put(uint32_t value, int count) {
        acc_ |= static_cast<uint64_t>(value) << n_;
        n_ += count;
        while (n_ >= 8) {
            bytes.push_back(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            n_ -= 8;
        }
    }
    void alignToByte() {
        if (n_) put(0, 8 - n_);
    }
    size_t bitLength() const { return bytes.size() * 8 + n_; }
    int pendingBits() const { return n_; }
    void append(const BitWriter& other) {
        for (uint8_t b : other.bytes) put(b, 8);
        if (other.n_) put(static_cast<uint32_t>(other.acc_), other.n_);
    }
    std::vector<uint8_t> finish() {
        alignToByte();
        return std::move(bytes);
    }
    std::vector<uint8_t> bytes;

private:
    uint64_t acc_ = 0;
    int n_ = 0;
};

// Canonical codes for the given lengths, bit-reversed for LSB-first output.
std::vector<uint16_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
    uint16_t count[16] = {0}, next[16] = {0};
    for (uint8_t l : lengths) count[l]++;
    count[0] = 0;
    uint16_t code = 0;
    for (int l = 1; l < 16; l++) {
        code = static_cast<uint16_t>((code + count[l - 1]) << 1);
        next[l] = code;
    }
    std::vector<uint16_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); s++) {
        int l = lengths[s];
        if (!l) continue;
        uint16_t c = next[l]++, r = 0;
        for (int i = 0; i < l; i++) r = static_cast<uint16_t>(r | (((c >> i) & 1) << (l - 1 - i)));
        codes[s] = r;
    }
    return codes;
}

// Length-limited Huffman code lengths by package-merge.
std::vector<uint8_t> limitedLengths(const std::vector<uint32_t>& freq, int limit) {
    std::vector<uint8_t> lengths(freq.size(), 0);
    std::vector<size_t> used;
    for (size_t i = 0; i < freq.size(); i++)
        if (freq[i]) used.push_back(i);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }
    std::stable_sort(used.begin(), used.end(), [&](size_t a, size_t b) { return freq[a] < freq[b]; });
    struct Item {
        uint64_t weight;
        std::vector<uint16_t> members;  // how often each used symbol occurs
    };
    std::vector<Item> leaves;
    for (size_t k = 0; k < used.size(); k++) {
        Item it{freq[used[k]], std::vector<uint16_t>(used.size(), 0)};
        it.members[k] = 1;
        leaves.push_back(it);
    }
    std::vector<Item> list = leaves;
    for (int level = 1; level < limit; level++) {
        std::vector<Item> packages;
        for (size_t k = 0; k + 1 < list.size(); k += 2) {
            Item p{list[k].weight + list[k + 1].weight, list[k].members};
            for (size_t t = 0; t < p.members.size(); t++) p.members[t] += list[k + 1].members[t];
            packages.push_back(std::move(p));
        }
        std::vector<Item> merged;
        std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(),
                   std::back_inserter(merged),
                   [](const Item& a, const Item& b) { return a.weight < b.weight; });
        list = std::move(merged);
    }
    for (size_t k = 0; k < 2 * used.size() - 2; k++)
        for (size_t t = 0; t < used.size(); t++) lengths[used[t]] += static_cast<uint8_t>(list[k].members[t]);
    return lengths;
}

// Our decoder takes a code that is complete or a lone 1-bit code. A code
// with room left over gets dummy symbols (the lowest unused ones) to fill
// it. Returns false when that is impossible.
bool makeAcceptable(std::vector<uint8_t>& lengths, size_t alphabet) {
    lengths.resize(alphabet, 0);
    uint32_t kraft = 0;
    int codes = 0;
    for (uint8_t l : lengths)
        if (l) {
            if (l > 15) return false;
            kraft += 1u << (15 - l);
            codes++;
        }
    if (codes == 0) return true;
    if (codes == 1 && kraft == (1u << 14)) return true;
    if (kraft > (1u << 15)) return false;
    uint32_t deficit = (1u << 15) - kraft;
    size_t next = 0;
    for (int l = 1; l <= 15 && deficit; l++) {
        if (!(deficit & (1u << (15 - l)))) continue;
        while (next < alphabet && lengths[next]) next++;
        if (next == alphabet) return false;
        lengths[next] = static_cast<uint8_t>(l);
        deficit -= 1u << (15 - l);
    }
    return true;
}

void putSymbols(BitWriter& w, const std::vector<Symbol>& symbols, const std::vector<uint8_t>& lit,
                const std::vector<uint8_t>& dist) {
    std::vector<uint16_t> litCodes = canonicalCodes(lit), distCodes = canonicalCodes(dist);
    for (const Symbol& s : symbols) {
        w.put(litCodes[s.litlen], lit[s.litlen]);
        if (s.litlen > 256) {
            w.put(s.lengthExtra, kLengthExtra[s.litlen - 257]);
            w.put(distCodes[s.dist], dist[s.dist]);
            w.put(s.distExtra, kDistExtra[s.dist]);
        }
    }
}

// A dynamic block body (everything after the 4-bit header). Returns false
// when the block's codes cannot be made acceptable to our decoder.
bool writeDynamic(BitWriter& w, const Block& b) {
    std::vector<uint8_t> lit = b.litLengths, dist = b.distLengths;
    if (!makeAcceptable(lit, 286) || !makeAcceptable(dist, 30)) return false;
    if (!lit[256]) return false;
    for (const Symbol& s : b.symbols)
        if (!lit[s.litlen] || (s.litlen > 256 && !dist[s.dist])) return false;
    size_t nl = 286, nd = 30;
    while (nl > 257 && !lit[nl - 1]) nl--;
    while (nd > 1 && !dist[nd - 1]) nd--;

    // Run-length code the lengths, one sequence over both alphabets.
    std::vector<uint8_t> all(lit.begin(), lit.begin() + nl);
    all.insert(all.end(), dist.begin(), dist.begin() + nd);
    struct Run {
        uint8_t symbol, extra;
    };
    std::vector<Run> runs;
    for (size_t i = 0; i < all.size();) {
        uint8_t v = all[i];
        size_t j = i;
        while (j < all.size() && all[j] == v) j++;
        size_t n = j - i;
        if (v == 0) {
            while (n >= 11) {
                size_t k = std::min<size_t>(n, 138);
                runs.push_back({18, static_cast<uint8_t>(k - 11)});
                n -= k;
            }
            if (n >= 3) {
                runs.push_back({17, static_cast<uint8_t>(n - 3)});
                n = 0;
            }
            while (n--) runs.push_back({0, 0});
        } else {
            runs.push_back({v, 0});
            n--;
            while (n >= 3) {
                size_t k = std::min<size_t>(n, 6);
                runs.push_back({16, static_cast<uint8_t>(k - 3)});
                n -= k;
            }
            while (n--) runs.push_back({v, 0});
        }
        i = j;
    }
    std::vector<uint32_t> freq(19, 0);
    for (const Run& r : runs) freq[r.symbol]++;
    std::vector<uint8_t> cl = limitedLengths(freq, 7);
    size_t nc = 19;
    while (nc > 4 && !cl[kOurOrder[nc - 1]]) nc--;

    w.put(static_cast<uint32_t>(nl - 257), 5);
    w.put(static_cast<uint32_t>(nd - 1), 5);
    w.put(static_cast<uint32_t>(nc - 4), 4);
    for (size_t i = 0; i < nc; i++) w.put(cl[kOurOrder[i]], 3);
    std::vector<uint16_t> clCodes = canonicalCodes(cl);
    for (const Run& r : runs) {
        w.put(clCodes[r.symbol], cl[r.symbol]);
        if (r.symbol == 16) w.put(r.extra, 2);
        if (r.symbol == 17) w.put(r.extra, 3);
        if (r.symbol == 18) w.put(r.extra, 7);
    }
    putSymbols(w, b.symbols, lit, dist);
    return true;
}

// Stored blocks for data[start, end) appended to w; the last one carries the
// last-block flag when last is set.
void writeStored(BitWriter& w, const uint8_t* data, size_t start, size_t end, bool last) {
    size_t pos = start;
    do {
        size_t len = std::min<size_t>(end - pos, 65535);
        bool final = last && pos + len == end;
        w.put(BLOCK_TYPE_STORED | (final ? 8u : 0u), 4);
        w.alignToByte();
        w.put(static_cast<uint32_t>(len), 16);
        for (size_t i = 0; i < len; i++) w.put(data[pos + i], 8);
        pos += len;
    } while (pos < end);
}

}  // namespace

std::vector<uint8_t> compressStream(const uint8_t* data, size_t size, int level) {
    std::vector<uint8_t> stored = storeStream(data, size);
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (!c) return stored;
    size_t bound = libdeflate_deflate_compress_bound(c, size);
    std::vector<uint8_t> raw(bound);
    size_t rawSize = libdeflate_deflate_compress(c, data, size, raw.data(), raw.size());
    libdeflate_free_compressor(c);
    if (!rawSize) return stored;

    std::vector<Block> blocks;
    try {
        blocks = parseDeflate(raw.data(), rawSize);
    } catch (const std::exception&) {
        return stored;
    }
    std::vector<uint8_t> fixedLit = fixedLitLengths(), fixedDist(30, 5);
    BitWriter out;
    for (size_t k = 0; k < blocks.size(); k++) {
        const Block& b = blocks[k];
        uint32_t lastFlag = k + 1 == blocks.size() ? 8u : 0u;
        BitWriter best;
        bool haveBest = false;
        if (b.type != 0) {
            BitWriter fixed;
            fixed.put(BLOCK_TYPE_FIXED | lastFlag, 4);
            putSymbols(fixed, b.symbols, fixedLit, fixedDist);
            best = std::move(fixed);
            haveBest = true;
            if (b.type == 2) {
                BitWriter dyn;
                dyn.put(BLOCK_TYPE_DYNAMIC | lastFlag, 4);
                if (writeDynamic(dyn, b) && dyn.bitLength() < best.bitLength()) best = std::move(dyn);
            }
        }
        // Stored blocks: their size depends on where the byte boundary falls.
        size_t len = b.end - b.start;
        size_t chunks = len ? (len + 65534) / 65535 : 1;
        size_t storedBits = (8 - (out.pendingBits() + 4) % 8) % 8 + 4 + 16 + 8 * len +
                            (chunks - 1) * (4 + 4 + 16);
        if (!haveBest || storedBits < best.bitLength()) {
            writeStored(out, data, b.start, b.end, lastFlag != 0);
        } else {
            out.append(best);
        }
    }
    std::vector<uint8_t> result = out.finish();
    return result.size() < stored.size() ? result : stored;
}

#else

std::vector<uint8_t> compressStream(const uint8_t* data, size_t size, int) {
    return storeStream(data, size);
}

#endif

}  // namespace pkg
