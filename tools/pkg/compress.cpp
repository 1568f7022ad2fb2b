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
// Every block starts with our 4-bit header (package/streamformat.h).
// Reading libdeflate's output back is pkg/rawdeflate.h's job. Without
// libdeflate (the Windows test programs) every stream is stored.
#include "pkg/compress.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "package/streamformat.h"

#ifdef UPD_HAVE_LIBDEFLATE
#include <libdeflate.h>

#include "pkg/rawdeflate.h"
#endif

namespace pkg {

std::vector<uint8_t> storeStream(const uint8_t* data, size_t size) {
    // Stored blocks: header, pad to the byte, 16-bit LEN, LEN bytes. An
    // empty input still needs one (empty) block.
    std::vector<uint8_t> out;
    size_t pos = 0;
    do {
        size_t len = size - pos < STORED_BLOCK_MAX ? size - pos : STORED_BLOCK_MAX;
        bool last = pos + len == size;
        out.push_back(static_cast<uint8_t>(BLOCK_STORED | (last ? BLOCK_LAST : 0)));
        out.push_back(static_cast<uint8_t>(len & 0xFF));
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.insert(out.end(), data + pos, data + pos + len);
        pos += len;
    } while (pos < size);
    return out;
}

#ifdef UPD_HAVE_LIBDEFLATE
namespace {

using Symbol = DeflateSymbol;
using Block = DeflateBlock;

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
        if (s.litlen > END_OF_BLOCK) {
            w.put(s.lengthExtra, streamcodes::LENGTH_EXTRA[s.litlen - FIRST_LENGTH_SYMBOL]);
            w.put(distCodes[s.dist], dist[s.dist]);
            w.put(s.distExtra, streamcodes::DISTANCE_EXTRA[s.dist]);
        }
    }
}

// A dynamic block body (everything after the 4-bit header). Returns false
// when the block's codes cannot be made acceptable to our decoder.
bool writeDynamic(BitWriter& w, const Block& b) {
    std::vector<uint8_t> lit = b.litLengths, dist = b.distLengths;
    if (!makeAcceptable(lit, LITERAL_CODES_MAX) || !makeAcceptable(dist, DISTANCE_CODES_MAX)) return false;
    if (!lit[END_OF_BLOCK]) return false;
    for (const Symbol& s : b.symbols)
        if (!lit[s.litlen] || (s.litlen > END_OF_BLOCK && !dist[s.dist])) return false;
    size_t nl = LITERAL_CODES_MAX, nd = DISTANCE_CODES_MAX;
    while (nl > FIRST_LENGTH_SYMBOL && !lit[nl - 1]) nl--;
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
    std::vector<uint32_t> freq(CODE_LENGTH_CODES, 0);
    for (const Run& r : runs) freq[r.symbol]++;
    std::vector<uint8_t> cl = limitedLengths(freq, 7);
    size_t nc = CODE_LENGTH_CODES;
    while (nc > 4 && !cl[streamcodes::CODE_LENGTH_ORDER[nc - 1]]) nc--;

    w.put(static_cast<uint32_t>(nl - FIRST_LENGTH_SYMBOL), 5);
    w.put(static_cast<uint32_t>(nd - 1), 5);
    w.put(static_cast<uint32_t>(nc - 4), 4);
    for (size_t i = 0; i < nc; i++) w.put(cl[streamcodes::CODE_LENGTH_ORDER[i]], 3);
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
        size_t len = std::min<size_t>(end - pos, STORED_BLOCK_MAX);
        bool final = last && pos + len == end;
        w.put(BLOCK_STORED | (final ? BLOCK_LAST : 0), BLOCK_HEADER_BITS);
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
    std::vector<uint8_t> fixedLit = fixedLiteralLengths(), fixedDist(FIXED_DISTANCE_CODES, FIXED_DISTANCE_BITS);
    BitWriter out;
    for (size_t k = 0; k < blocks.size(); k++) {
        const Block& b = blocks[k];
        uint32_t lastFlag = k + 1 == blocks.size() ? BLOCK_LAST : 0;
        BitWriter best;
        bool haveBest = false;
        if (b.type != 0) {
            BitWriter fixed;
            fixed.put(BLOCK_FIXED | lastFlag, BLOCK_HEADER_BITS);
            putSymbols(fixed, b.symbols, fixedLit, fixedDist);
            best = std::move(fixed);
            haveBest = true;
            if (b.type == 2) {
                BitWriter dyn;
                dyn.put(BLOCK_DYNAMIC | lastFlag, BLOCK_HEADER_BITS);
                if (writeDynamic(dyn, b) && dyn.bitLength() < best.bitLength()) best = std::move(dyn);
            }
        }
        // Stored blocks: their size depends on where the byte boundary falls.
        size_t len = b.end - b.start;
        size_t chunks = len ? (len + STORED_BLOCK_MAX - 1) / STORED_BLOCK_MAX : 1;
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
