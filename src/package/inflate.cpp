// Decoder of the package's compressed stream format (see inflate.h for the
// contract and the result codes).
//
// Format notes, where the code relies on them:
// - Bits are taken LSB first; Huffman codes are stored bit-reversed in the
//   tables so that the next bits of the input index them directly.
// - Block header: 4 bits, type in bits 0-2 (5 fixed, 6 dynamic, 7 stored),
//   bit 3 marks the last block. Types 0-4 fail with INFLATE_ERR_FORMAT.
// - Stored block: skip to the byte boundary, 16-bit LEN, LEN bytes. Unlike
//   RFC 1951 there is no NLEN.
// - Dynamic block: HLIT, HDIST, HCLEN as in RFC 1951, but the code-length
//   code lengths come in the order 18, 17, 16, 0, 1, ..., 15.
//
// Input: bits are collected in a machine word. The fast path of decodeCodes
// loads a whole word from the input buffer at once; everything else goes
// through refill(), which takes one byte at a time. When the input ends,
// zero bytes are put in instead (counted in overread) so that a last lookup
// may look past the end; a stream whose codes consume any of those zero bits
// fails with INFLATE_ERR_DATA. When the decode ends, the whole bytes that
// are still in the bit buffer are given back to the input with the unread
// ones, so the input stands right after the byte holding the last bit.
//
// Output: the window buffer keeps 32,768 bytes of history in front of the
// output position, so a back-reference never wraps and a match is one
// forward copy. Output collects behind the history and goes to the sink in
// windows of exactly 32,768 bytes; when the buffer is full, its last window
// moves down to become the history. The history starts zero-filled, so a
// distance reaching before the first output byte copies zeros.
#include "package/inflate.h"

#include <string.h>

namespace {

const uint32_t HISTORY = INFLATE_WINDOW;
const uint32_t OUTPUT_WINDOWS = 4;
const uint32_t BUFFER_END = HISTORY + OUTPUT_WINDOWS * INFLATE_WINDOW;
// A match may run up to 257 bytes past the end of a window before it is
// flushed, and match copies write whole 8-byte words.
const uint32_t WINDOW_ALLOC = BUFFER_END + 258 + 16;
const uint32_t BITWORD_BITS = sizeof(BitWord) * 8;

static_assert(LENGTH_EXTRA_NONE == OP_INVALID, "length symbols 286 and 287 decode to no code");

// Lookups in a code that has no table (all lengths 0) land here and fail.
const HuffmanEntry noCode[1] = {{OP_INVALID, 0, 0}};

inline BitWord mask(uint32_t n) { return (BitWord(1) << n) - 1; }

// The walk of buildHuffmanTable, run twice: first without a block to size
// it, then to fill it. Returns the number of entries, or 0 when they would
// not fit the 16-bit links.
uint32_t walkCodes(HuffmanEntry* pool, const uint16_t* count, const uint16_t* sorted, uint32_t m,
                   int shortest, int longest, int width, int eobLength, uint32_t s,
                   const uint16_t* bases, const uint16_t* extras, int* primaryWidth) {
    int tableWidth[18];  // tableWidth[h + 1]: level -1 has width 0
    uint32_t prefix[17];
    uint32_t base[17];  // index of the table at each level in the pool
    tableWidth[0] = 0;
    prefix[0] = 0;
    uint32_t used = 0;
    uint32_t code = 0;
    uint32_t next = 0;  // next listed symbol
    int h = -1;
    int w = 0;
    for (int len = shortest; len <= longest; len++) {
        for (int remaining = count[len] - 1; remaining >= 0; remaining--) {
            while (len > w + tableWidth[h + 1]) {
                w += tableWidth[h + 1];
                h++;
                int upper = longest - w < width ? longest - w : width;
                int j = len - w;
                if ((1 << j) > remaining + 1) {
                    int f = (1 << j) - (remaining + 1);
                    for (;;) {
                        j++;
                        if (j >= upper) break;
                        f <<= 1;
                        if (f <= count[w + j]) break;
                        f -= count[w + j];
                    }
                }
                // The table that resolves the end-of-block code ends exactly
                // at that code's length, so a stream that ends with it is not
                // read past its last byte by the lookup.
                if (w + j > eobLength && w < eobLength) j = eobLength - w;
                tableWidth[h + 1] = j;
                base[h] = used;
                used += 1u << j;
                if (used > 65536) return 0;
                if (h > 0) {
                    prefix[h] = code;
                    int parentWidth = tableWidth[h];
                    if (pool) {
                        HuffmanEntry& link =
                            pool[base[h - 1] + ((code & mask(w)) >> (w - parentWidth))];
                        link.op = static_cast<uint8_t>(16 + j);
                        link.bits = static_cast<uint8_t>(parentWidth);
                        link.value = static_cast<uint16_t>(base[h]);
                    }
                }
            }
            if (pool) {
                HuffmanEntry e;
                e.bits = static_cast<uint8_t>(len - w);
                if (next >= m) {
                    e.op = OP_INVALID;
                    e.value = 0;
                } else {
                    uint32_t v = sorted[next++];
                    if (v < s) {
                        e.op = v < END_OF_BLOCK ? OP_LITERAL : OP_END_OF_BLOCK;
                        e.value = static_cast<uint16_t>(v);
                    } else {
                        e.op = static_cast<uint8_t>(extras[v - s]);
                        e.value = bases[v - s];
                    }
                }
                uint32_t size = 1u << tableWidth[h + 1];
                for (uint32_t i = code >> w; i < size; i += 1u << (len - w)) pool[base[h] + i] = e;
            }
            uint32_t bit = 1u << (len - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code |= bit;
            while ((code & mask(w)) != prefix[h]) {
                w -= tableWidth[h];
                h--;
            }
        }
    }
    *primaryWidth = tableWidth[1];
    return used;
}

}  // namespace

int buildHuffmanTable(const uint8_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases,
                      const uint16_t* extras, int requestedWidth, HuffmanEntry** table,
                      int* width) {
    *table = 0;
    *width = 0;
    uint16_t count[17];
    memset(count, 0, sizeof count);
    for (uint32_t i = 0; i < n; i++) {
        if (lengths[i] > 16) return INFLATE_ERR_FORMAT;
        count[lengths[i]]++;
    }
    int eobLength = n > END_OF_BLOCK ? lengths[END_OF_BLOCK] : 16;
    if (count[0] == n) return INFLATE_OK;
    int shortest = 1;
    while (!count[shortest]) shortest++;
    int longest = 16;
    while (!count[longest]) longest--;
    int w = requestedWidth;
    if (w < shortest) w = shortest;
    if (w > longest) w = longest;

    int32_t y = 1 << shortest;
    for (int len = shortest; len < longest; len++) {
        y -= count[len];
        if (y < 0) return INFLATE_ERR_FORMAT;
        y <<= 1;
    }
    y -= count[longest];
    if (y < 0) return INFLATE_ERR_FORMAT;
    uint32_t m = n - count[0];
    count[longest] = static_cast<uint16_t>(count[longest] + y);

    // Symbols with a code, ordered by (length, symbol).
    uint16_t offset[17];
    uint16_t sorted[320];
    offset[1] = 0;
    for (int len = 1; len < 16; len++) offset[len + 1] = static_cast<uint16_t>(offset[len] + count[len]);
    for (uint32_t i = 0; i < n; i++)
        if (lengths[i]) sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);

    int primary = 0;
    uint32_t size = walkCodes(0, count, sorted, m, shortest, longest, w, eobLength, s, bases,
                              extras, &primary);
    if (!size) return INFLATE_ERR_MEMORY;
    HuffmanEntry* pool = static_cast<HuffmanEntry*>(allocZeroed(size * sizeof(HuffmanEntry)));
    if (!pool) return INFLATE_ERR_MEMORY;
    walkCodes(pool, count, sorted, m, shortest, longest, w, eobLength, s, bases, extras, &primary);
    *table = pool;
    *width = primary;
    return y != 0 && longest != 1 ? INFLATE_ERR_DATA : INFLATE_OK;
}

void freeHuffmanTable(HuffmanEntry*& table) { freeBuffer(table); }

bool MemorySink::write(const uint8_t* data, uint16_t length) {
    if (length > room) return false;
    memcpy(cursor, data, length);
    cursor += length;
    room -= length;
    return true;
}

bool FileSink::write(const uint8_t* data, uint16_t length) {
    if (handle == INVALID_FILE || length == 0) return true;
    return writeAll(handle, data, length) == WRITE_OK;
}

int FileInput::read(void* buffer, uint32_t count, uint32_t* delivered) {
    *delivered = readSome(handle, buffer, count);
    return INPUT_OK;
}

void FileInput::giveBack(uint32_t n) { seekBy(handle, -static_cast<int32_t>(n)); }

// ---- ByteSource ----

bool ByteSource::openSource(StreamInput* from, uint32_t limitBytes) {
    buffer = static_cast<uint8_t*>(allocZeroed(INFLATE_INPUT_BUFFER));
    if (!buffer) return false;
    readPos = buffer;
    available = 0;
    input = from;
    limit = limitBytes;
    limited = limitBytes != 0;
    ended = false;
    failed = false;
    heldBack = 0;
    return true;
}

void ByteSource::fillSource() {
    readPos = buffer;
    available = 0;
    if (ended || failed) return;
    uint32_t n = INFLATE_INPUT_BUFFER;
    // An exhausted limit is the end of the stream: never read past it.
    if (limited && limit < n) n = limit;
    uint32_t got = 0;
    if (n && input->read(buffer, n, &got) != INPUT_OK) failed = true;
    if (got > n) got = n;
    if (failed) got = 0;
    limit -= got;
    available = static_cast<int32_t>(got);
    if (available == 0) ended = true;
}

int ByteSource::nextByte() {
    if (available == 0) {
        fillSource();
        if (available == 0) return -1;
    }
    available--;
    return *readPos++;
}

void ByteSource::closeSource() {
    freeBuffer(buffer);
    uint32_t back = static_cast<uint32_t>(available) + heldBack;
    if (input && back > 0) input->giveBack(back);
    readPos = 0;
    available = 0;
    heldBack = 0;
    input = 0;
}

// ---- InflateDecoder ----

// Only what closing the source reads: openSource sets the rest of the
// source, decodeBlocks the rest of the decoder.
InflateDecoder::InflateDecoder() {
    buffer = 0;
    available = 0;
    input = 0;
    heldBack = 0;
}

InflateDecoder::~InflateDecoder() { closeSource(); }

bool InflateDecoder::refill() {
    while (bitCount <= BITWORD_BITS - 8) {
        if (overrun()) return false;
        int b = nextByte();
        if (b < 0) {
            if (failed) return false;
            b = 0;
            overread++;
        }
        bitBuffer |= static_cast<BitWord>(b) << bitCount;
        bitCount += 8;
    }
    return !failed;
}

bool InflateDecoder::flushWindow() {
    uint32_t start = windowEnd - INFLATE_WINDOW;
    if (!sink->write(window + start, static_cast<uint16_t>(INFLATE_WINDOW))) return false;
    if (windowEnd == BUFFER_END) {
        memmove(window, window + start, outPos - start);
        outPos -= start;
        windowEnd = HISTORY + INFLATE_WINDOW;
    } else {
        windowEnd += INFLATE_WINDOW;
    }
    return true;
}

int InflateDecoder::decodeBlocks() {
    fixedLiteralTable = fixedDistanceTable = 0;
    fixedLiteralBits = fixedDistanceBits = 0;
    bitBuffer = 0;
    bitCount = 0;
    overread = 0;
    window = static_cast<uint8_t*>(allocZeroed(WINDOW_ALLOC));
    if (!window) return INFLATE_ERR_MEMORY;
    outPos = HISTORY;
    windowEnd = HISTORY + INFLATE_WINDOW;

    int result;
    for (;;) {
        if (!need(4)) {
            result = INFLATE_ERR_DATA;
            break;
        }
        uint32_t header = static_cast<uint32_t>(bitBuffer & 15);
        drop(4);
        if (overrun()) {
            result = INFLATE_ERR_DATA;
            break;
        }
        switch (header & 7) {
        case BLOCK_FIXED: result = decodeFixedBlock(); break;
        case BLOCK_DYNAMIC: result = decodeDynamicBlock(); break;
        case BLOCK_STORED: result = decodeStoredBlock(); break;
        default: result = INFLATE_ERR_FORMAT; break;
        }
        // The source's failure signal (a lost volume) and input used up
        // beyond its end override whatever the block made of the zero bits.
        if (failed || overrun()) result = INFLATE_ERR_DATA;
        if ((header & BLOCK_LAST) || result != INFLATE_OK) break;
    }
    if (result == INFLATE_OK) {
        uint32_t start = windowEnd - INFLATE_WINDOW;
        if (!sink->write(window + start, static_cast<uint16_t>(outPos - start)))
            result = INFLATE_ERR_DATA;
    }
    // Whole bytes of real input still in the bit buffer go back to the file.
    uint32_t held = bitCount / 8;
    heldBack = held > overread ? held - overread : 0;
    freeHuffmanTable(fixedLiteralTable);
    freeHuffmanTable(fixedDistanceTable);
    freeBuffer(window);
    return result;
}

int InflateDecoder::decodeStoredBlock() {
    drop(bitCount & 7);
    if (!need(16)) return INFLATE_ERR_DATA;
    uint32_t len = static_cast<uint32_t>(bitBuffer & 0xFFFF);
    drop(16);
    // First the whole bytes that the bit buffer already holds...
    while (len && bitCount >= 8) {
        window[outPos++] = static_cast<uint8_t>(bitBuffer);
        drop(8);
        len--;
        if (outPos == windowEnd && !flushWindow()) return INFLATE_ERR_DATA;
    }
    if (overrun()) return INFLATE_ERR_DATA;
    // ...then straight from the input buffer. The bit buffer is empty now,
    // but its upper bits may still hold input bytes that a word load put
    // there ahead of time; these bytes are now taken here, so clear them.
    if (len) bitBuffer = 0;
    while (len) {
        if (available == 0) {
            fillSource();
            if (available == 0) return INFLATE_ERR_DATA;
        }
        uint32_t n = len;
        if (n > static_cast<uint32_t>(available)) n = static_cast<uint32_t>(available);
        if (n > windowEnd - outPos) n = windowEnd - outPos;
        memcpy(window + outPos, readPos, n);
        readPos += n;
        available -= static_cast<int32_t>(n);
        outPos += n;
        len -= n;
        if (outPos == windowEnd && !flushWindow()) return INFLATE_ERR_DATA;
    }
    return INFLATE_OK;
}

int InflateDecoder::decodeFixedBlock() {
    if (!fixedLiteralTable) {
        uint8_t lengths[FIXED_LITERAL_CODES];
        memset(lengths, 8, FIXED_8_END);
        memset(lengths + FIXED_8_END, 9, FIXED_9_END - FIXED_8_END);
        memset(lengths + FIXED_9_END, 7, FIXED_7_END - FIXED_9_END);
        memset(lengths + FIXED_7_END, 8, FIXED_LITERAL_CODES - FIXED_7_END);
        int r = buildHuffmanTable(lengths, FIXED_LITERAL_CODES, FIRST_LENGTH_SYMBOL, streamcodes::LENGTH_BASE, streamcodes::LENGTH_EXTRA, 7,
                                  &fixedLiteralTable, &fixedLiteralBits);
        if (r != INFLATE_OK) {
            freeHuffmanTable(fixedLiteralTable);
            return r;
        }
        memset(lengths, FIXED_DISTANCE_BITS, FIXED_DISTANCE_CODES);
        // Codes 30 and 31 have no symbol: the code is incomplete, accepted.
        r = buildHuffmanTable(lengths, FIXED_DISTANCE_CODES, 0, streamcodes::DISTANCE_BASE, streamcodes::DISTANCE_EXTRA, 5, &fixedDistanceTable,
                              &fixedDistanceBits);
        if (r > INFLATE_ERR_DATA) {
            freeHuffmanTable(fixedLiteralTable);
            return r;
        }
    }
    return decodeCodes(fixedLiteralTable, fixedDistanceTable, fixedLiteralBits, fixedDistanceBits)
               ? INFLATE_ERR_DATA
               : INFLATE_OK;
}

int InflateDecoder::decodeDynamicBlock() {
    if (!need(14)) return INFLATE_ERR_DATA;
    uint32_t nl = FIRST_LENGTH_SYMBOL + static_cast<uint32_t>(bitBuffer & 31);
    uint32_t nd = 1 + static_cast<uint32_t>((bitBuffer >> 5) & 31);
    uint32_t nb = 4 + static_cast<uint32_t>((bitBuffer >> 10) & 15);
    drop(14);
    if (nl > LITERAL_CODES_MAX || nd > DISTANCE_CODES_MAX) return INFLATE_ERR_DATA;

    uint8_t lengths[320];
    memset(lengths, 0, CODE_LENGTH_CODES);
    for (uint32_t j = 0; j < nb; j++) {
        if (!need(3)) return INFLATE_ERR_DATA;
        lengths[streamcodes::CODE_LENGTH_ORDER[j]] = static_cast<uint8_t>(bitBuffer & 7);
        drop(3);
    }
    HuffmanEntry* table;
    int width;
    int r = buildHuffmanTable(lengths, CODE_LENGTH_CODES, CODE_LENGTH_CODES, 0, 0, 7, &table, &width);
    if (r != INFLATE_OK) {
        freeHuffmanTable(table);
        return r;
    }
    const HuffmanEntry* lookup = table ? table : noCode;
    uint32_t total = nl + nd;
    uint32_t i = 0;
    uint8_t previous = 0;
    while (i < total) {
        if (!need(7 + 7)) break;
        HuffmanEntry e = lookup[bitBuffer & mask(width)];
        // A lone code of length 1 leaves OP_INVALID entries; no entry of
        // this table is a link, since its codes are at most 7 bits long.
        if (e.op != OP_LITERAL) break;
        drop(e.bits);
        uint32_t symbol = e.value;
        if (symbol < 16) {
            lengths[i++] = previous = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            repeat = 3 + static_cast<uint32_t>(bitBuffer & 3);
            drop(2);
            value = previous;
        } else if (symbol == 17) {
            repeat = 3 + static_cast<uint32_t>(bitBuffer & 7);
            drop(3);
        } else {
            repeat = 11 + static_cast<uint32_t>(bitBuffer & 127);
            drop(7);
        }
        if (i + repeat > total) break;
        memset(lengths + i, value, repeat);
        i += repeat;
        previous = value;
    }
    freeHuffmanTable(table);
    if (i < total || overrun()) return INFLATE_ERR_DATA;

    HuffmanEntry* literals;
    HuffmanEntry* distances;
    int literalWidth, distanceWidth;
    r = buildHuffmanTable(lengths, nl, FIRST_LENGTH_SYMBOL, streamcodes::LENGTH_BASE, streamcodes::LENGTH_EXTRA, 9, &literals, &literalWidth);
    if (r != INFLATE_OK) {
        freeHuffmanTable(literals);
        return r;
    }
    r = buildHuffmanTable(lengths + nl, nd, 0, streamcodes::DISTANCE_BASE, streamcodes::DISTANCE_EXTRA, 6, &distances,
                          &distanceWidth);
    if (r != INFLATE_OK) {
        freeHuffmanTable(literals);
        freeHuffmanTable(distances);
        return r;
    }
    r = decodeCodes(literals ? literals : noCode, distances ? distances : noCode, literalWidth,
                    distanceWidth);
    freeHuffmanTable(literals);
    freeHuffmanTable(distances);
    return r != INFLATE_OK ? INFLATE_ERR_DATA : INFLATE_OK;
}

// The hot loop. State lives in locals (stores into the window may alias any
// member) and goes back to the members around every call out.
int InflateDecoder::decodeCodes(const HuffmanEntry* literals, const HuffmanEntry* distances,
                                int literalWidth, int distanceWidth) {
    BitWord bb;
    uint32_t bc;
    const uint8_t* in;
    const uint8_t* inEnd;
    uint32_t pos;
    uint32_t wend;
    uint8_t* const win = window;
    const BitWord literalMask = mask(literalWidth);
    const BitWord distanceMask = mask(distanceWidth);

#define LOAD_STATE()                   \
    bb = bitBuffer;                    \
    bc = bitCount;                     \
    in = readPos;                      \
    inEnd = readPos + available;       \
    pos = outPos;                      \
    wend = windowEnd
#define SAVE_STATE()                                   \
    bitBuffer = bb;                                    \
    bitCount = bc;                                     \
    available = static_cast<int32_t>(inEnd - in);     \
    readPos = in;                                      \
    outPos = pos
#define NEED(n)                                                              \
    if (bc < static_cast<uint32_t>(n)) {                                     \
        if (inEnd - in >= static_cast<ptrdiff_t>(sizeof(BitWord))) {         \
            BitWord word;                                                    \
            memcpy(&word, in, sizeof word);                                  \
            bb |= word << bc;                                                \
            in += (BITWORD_BITS - 1 - bc) >> 3;                              \
            bc |= BITWORD_BITS - 8;                                          \
        } else {                                                             \
            SAVE_STATE();                                                    \
            bool filled = refill();                                          \
            LOAD_STATE();                                                    \
            if (!filled) return INFLATE_ERR_DATA;                            \
        }                                                                    \
    }
#define DROP(n) \
    bb >>= (n); \
    bc -= (n)

    LOAD_STATE();
    for (;;) {
        NEED(BITWORD_BITS - 16);
        HuffmanEntry e = literals[bb & literalMask];
        if (e.op == OP_LITERAL) {
            DROP(e.bits);
            win[pos++] = static_cast<uint8_t>(e.value);
            if (pos >= wend) {
                SAVE_STATE();
                bool ok = flushWindow();
                LOAD_STATE();
                if (!ok) return INFLATE_ERR_DATA;
            }
            continue;
        }
        while (e.op > OP_LITERAL) {
            if (e.op == OP_INVALID) {
                SAVE_STATE();
                return INFLATE_ERR_DATA;
            }
            DROP(e.bits);
            uint32_t n = e.op - 16u;
            NEED(n);
            e = literals[e.value + (bb & mask(n))];
        }
        DROP(e.bits);
        if (e.op == OP_LITERAL) {
            win[pos++] = static_cast<uint8_t>(e.value);
        } else if (e.op == OP_END_OF_BLOCK) {
            SAVE_STATE();
            return overrun() ? INFLATE_ERR_DATA : INFLATE_OK;
        } else {
            NEED(e.op);
            uint32_t length = e.value + static_cast<uint32_t>(bb & mask(e.op));
            DROP(e.op);
            NEED(15);
            e = distances[bb & distanceMask];
            while (e.op > OP_LITERAL) {
                if (e.op == OP_INVALID) {
                    SAVE_STATE();
                    return INFLATE_ERR_DATA;
                }
                DROP(e.bits);
                uint32_t n = e.op - 16u;
                NEED(n);
                e = distances[e.value + (bb & mask(n))];
            }
            DROP(e.bits);
            NEED(e.op);
            uint32_t distance = e.value + static_cast<uint32_t>(bb & mask(e.op));
            DROP(e.op);
            // distance <= 32,768 and pos >= HISTORY: the source never
            // starts before the buffer.
            uint8_t* dst = win + pos;
            const uint8_t* src = dst - distance;
            uint8_t* end = dst + length;
            if (distance >= 8) {
                do {
                    memcpy(dst, src, 8);
                    dst += 8;
                    src += 8;
                } while (dst < end);
            } else if (distance == 1) {
                memset(dst, *src, length);
            } else {
                do *dst++ = *src++;
                while (dst < end);
            }
            pos += length;
        }
        if (pos >= wend) {
            SAVE_STATE();
            bool ok = flushWindow();
            LOAD_STATE();
            if (!ok) return INFLATE_ERR_DATA;
        }
    }
#undef LOAD_STATE
#undef SAVE_STATE
#undef NEED
#undef DROP
}

// ---- Drivers ----

// The decoder's destructor closes the source: the input gets back what the
// stream did not use.
int decodeStream(ByteSink* sink, StreamInput* input, uint32_t limit) {
    if (!sink->isReady()) return INFLATE_ERR_SOURCE;
    InflateDecoder decoder;
    if (!decoder.openSource(input, limit)) return INFLATE_ERR_SOURCE;
    decoder.sink = sink;
    return decoder.decodeBlocks();
}

bool decodeToMemory(void* destination, uint32_t capacity, FileHandle input, uint32_t limit) {
    MemorySink sink(destination, capacity);
    FileInput file(input);
    return decodeStream(&sink, &file, limit) == INFLATE_OK && sink.room == 0;
}

bool decodeToFile(FileHandle output, FileHandle input, uint32_t limit) {
    FileSink sink(output);
    FileInput file(input);
    return decodeStream(&sink, &file, limit) == INFLATE_OK;
}
