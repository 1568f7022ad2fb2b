// Decoder of the package's compressed stream format.
//
// The format is Deflate (RFC 1951) with three differences: a 4-bit block
// header (bits 0-2 the type: 5 fixed, 6 dynamic, 7 stored; bit 3 the last
// block), stored blocks carry LEN but no NLEN, and the code-length code
// lengths come in the order 18, 17, 16, 0, 1, ..., 15. A stream carries no
// length and no checksum; its caller knows the decoded size.
//
// One InflateDecoder decodes one stream, pulling bytes from its ByteSource (a
// 4096-byte buffered reader over a StreamInput, optionally capped to the
// stream's compressed length) and pushing output into a ByteSink one
// 32,768-byte window at a time. The decoder knows nothing of where its input
// comes from: a plain file (FileInput) or the data area across its volumes
// (package/volume.h).
//
// Results of decodeBlocks:
//   0 INFLATE_OK          every block up to the last decoded
//   1 INFLATE_ERR_DATA    HLIT > 286 or HDIST > 30, a repeat past the lengths,
//                         an incomplete code where none is accepted, a code
//                         with no symbol or no table, input used up (codes
//                         that consume more bits than the input holds), the
//                         input was lost, the sink refused output
//   2 INFLATE_ERR_FORMAT  block type 0-4, an over-subscribed code
//   3 INFLATE_ERR_MEMORY  a lookup table or the window cannot be allocated
//   4 INFLATE_ERR_SOURCE  (decodeStream only) the sink is not ready or the
//                         source cannot be opened: nothing was read
//
// The drivers decodeToMemory and decodeToFile answer whether the stream gave
// exactly the bytes wanted (their callers need no more; decodeStream tells
// why not). Every driver leaves the input right
// after the byte that holds the stream's last bit (unread input and whole
// bytes still held in the bit buffer are given back to it).
//
// Built into the stub: no exceptions, no C++ runtime, everything on the stack
// or from allocZeroed.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "package/fileops.h"
#include "package/streamformat.h"

enum {
    INFLATE_OK = 0,
    INFLATE_ERR_DATA = 1,
    INFLATE_ERR_FORMAT = 2,
    INFLATE_ERR_MEMORY = 3,
    INFLATE_ERR_SOURCE = 4
};


// HuffmanEntry.op values; 0-13 are the extra bits of a length or distance
// whose base is in value, 16 + n (n >= 1) links to a sub-table of 2^n entries.
enum {
    OP_END_OF_BLOCK = 15,
    OP_LITERAL = 16,
    OP_INVALID = 100
};

const uint32_t INFLATE_WINDOW = 32768;
// The most output one input byte can give: a match of the longest length
// (258, symbol 285, no extra bits) at distance 1 (symbol 0, no extra bits)
// with both codes one bit long takes 2 bits, so 8 bits give 4 x 258 bytes.
// Block headers and code tables only lower the ratio, and a stream that
// uses more bits than it has is refused, so a stream of n bytes never
// decodes to more than 1,032 x n bytes.
const uint32_t INFLATE_MAX_EXPANSION = 1032;
const uint32_t INFLATE_INPUT_BUFFER = 4096;

// One slot of a lookup table. All tables of one buildHuffmanTable call live in
// one block, the primary table first; a link's value is the index of its
// sub-table in that block.
struct HuffmanEntry {
    uint8_t op;
    uint8_t bits;   // bits consumed at this table level
    uint16_t value; // literal, base value, symbol (code-length code) or link
};

// Builds the lookup tables of the canonical code given by n lengths (0 = no
// code, at most 16). Symbols below s decode to themselves (256 is the end of
// block); symbol v >= s decodes to bases[v - s] with extras[v - s] extra bits.
// Returns INFLATE_OK (complete, or a lone code of length 1),
// INFLATE_ERR_DATA (incomplete: table built, missing codes are OP_INVALID),
// INFLATE_ERR_FORMAT (over-subscribed or a length above 16: no table) or
// INFLATE_ERR_MEMORY. All lengths 0: INFLATE_OK, *table null, *width 0.
int buildHuffmanTable(const uint8_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases,
                      const uint16_t* extras, int requestedWidth, HuffmanEntry** table,
                      int* width);
void freeHuffmanTable(HuffmanEntry*& table);

// Takes the decoded output. write gets at most 32,768 bytes at a time and
// returns false to fail the decode.
class ByteSink {
public:
    virtual ~ByteSink() {}
    virtual bool isReady() = 0;
    virtual bool write(const uint8_t* data, uint16_t length) = 0;
};

// Copies into a caller buffer of capacity bytes; never writes past it, and
// refuses (fails the decode on) output that does not fit.
class MemorySink : public ByteSink {
public:
    MemorySink(void* destination, uint32_t capacity)
        : cursor(static_cast<uint8_t*>(destination)), room(capacity) {}
    bool isReady() override { return cursor != 0; }
    bool write(const uint8_t* data, uint16_t length) override;
    uint8_t* cursor;
    uint32_t room;
};

// Writes to an open file with writeAll; a failed or short write fails the
// decode. An invalid handle swallows the output.
class FileSink : public ByteSink {
public:
    explicit FileSink(FileHandle output) : handle(output) {}
    bool isReady() override { return true; }
    bool write(const uint8_t* data, uint16_t length) override;
    FileHandle handle;
};

// Where a stream's bytes come from. read places up to count bytes in buffer,
// sets *delivered (0 at the end of the input) and returns INPUT_OK, or
// INPUT_LOST when the input is gone and gives nothing more. giveBack returns
// the last n bytes read that the stream did not use, so that the input
// stands right behind the stream's last byte (as far as they can still be
// reached).
enum { INPUT_OK = 0, INPUT_LOST = 1 };
class StreamInput {
public:
    virtual int read(void* buffer, uint32_t count, uint32_t* delivered) = 0;
    virtual void giveBack(uint32_t n) = 0;

protected:
    ~StreamInput() {}
};

// An open file, read with plain reads; bytes given back are sought back.
class FileInput final : public StreamInput {
public:
    explicit FileInput(FileHandle file) : handle(file) {}
    int read(void* buffer, uint32_t count, uint32_t* delivered) override;
    void giveBack(uint32_t n) override;
    FileHandle handle;
};

// Buffered input. limit = bytes the stream may still deliver (counted only
// when the source was opened with a limit; an exhausted limit is the end of
// input, never a read past the stream).
struct ByteSource {
    uint8_t* buffer;
    const uint8_t* readPos;
    int32_t available;
    StreamInput* input;
    uint32_t limit;
    bool limited;
    bool ended;    // the input gave no more bytes
    bool failed;   // the input was lost
    uint32_t heldBack;  // bytes taken from the input but not used: given back

    bool openSource(StreamInput* from, uint32_t limitBytes);
    int nextByte();  // -1 when there is none
    void fillSource();
    void closeSource();
};

// The bit buffer is a machine word: 32 bits in the i686 stub, 64 in 64-bit
// builds. UPD_BITWORD_32 builds the 32-bit one anywhere, so that native tests
// and a fuzz target run the code the shipped stub runs.
#if UINTPTR_MAX > 0xFFFFFFFFu && !defined(UPD_BITWORD_32)
typedef uint64_t BitWord;
#else
typedef uint32_t BitWord;
#endif

struct InflateDecoder : ByteSource {
    ByteSink* sink;
    HuffmanEntry* fixedLiteralTable;
    HuffmanEntry* fixedDistanceTable;
    int fixedLiteralBits;
    int fixedDistanceBits;
    // The window holds 32,768 bytes of history before the output position
    // and room for several windows of output after it; output goes to the
    // sink in 32,768-byte windows (windowEnd marks the end of the current
    // one), and the history is moved down when the buffer is full.
    uint8_t* window;
    uint32_t outPos;
    uint32_t windowEnd;
    BitWord bitBuffer;
    uint32_t bitCount;
    uint32_t overread;  // zero bytes put into bitBuffer after the input ended

    InflateDecoder();
    ~InflateDecoder();
    int decodeBlocks();
    int decodeStoredBlock();
    int decodeFixedBlock();
    int decodeDynamicBlock();
    int decodeCodes(const HuffmanEntry* literals, const HuffmanEntry* distances,
                    int literalWidth, int distanceWidth);

    bool refill();  // false: the source failed or more bits were used than read
    bool need(uint32_t n) { return bitCount >= n || refill(); }
    void drop(uint32_t n) {
        bitBuffer >>= n;
        bitCount -= n;
    }
    bool overrun() const { return bitCount < 8 * overread; }
    bool flushWindow();
};

// Opens the source on input, decodes one stream into sink and closes the
// source. limit = compressed length of the stream, 0 = no limit (the stream
// ends where its last block says). Returns the decodeBlocks result, or
// INFLATE_ERR_SOURCE when the source cannot be opened or the sink is not
// ready (nothing read).
int decodeStream(ByteSink* sink, StreamInput* input, uint32_t limit);

// decodeToMemory: decodes one stream from the open file input into
// destination, which holds capacity bytes; true only when the stream decodes
// to exactly capacity bytes. Output beyond capacity fails the decode and is
// never written. An invalid input handle gives no input: the decode fails.
bool decodeToMemory(void* destination, uint32_t capacity, FileHandle input, uint32_t limit);

// decodeToFile: decodes one stream into the open output file. A failed or
// short write fails the decode.
bool decodeToFile(FileHandle output, FileHandle input, uint32_t limit);
