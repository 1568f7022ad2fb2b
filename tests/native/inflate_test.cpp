// Decoder of the package's stream format: results, output, the writes the
// sink sees and where the input file stands afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "package/inflate.h"
#include "base/state.h"
#include "support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Builds test bitstreams: fields LSB first, Huffman codes MSB first.
class Bits {
public:
    Bits& put(uint32_t value, int n) {
        for (int i = 0; i < n; i++) bit((value >> i) & 1);
        return *this;
    }
    Bits& code(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; i--) bit((value >> i) & 1);
        return *this;
    }
    Bits& align() {
        while (count_ % 8) bit(0);
        return *this;
    }
    // RFC 1951 fixed code.
    Bits& fixedSymbol(int s) {
        if (s < 144) return code(0x30 + s, 8);
        if (s < 256) return code(0x190 + s - 144, 9);
        if (s < 280) return code(s - 256, 7);
        return code(0xC0 + s - 280, 8);
    }
    // A match in a fixed block: length symbol, extras, distance code, extras.
    Bits& fixedMatch(int length, int distance) {
        const uint16_t* lbase = streamcodes::LENGTH_BASE;
        const uint16_t* lextra = streamcodes::LENGTH_EXTRA;
        int l = 28;  // symbol 285
        while (lbase[l] > length) l--;
        fixedSymbol(257 + l).put(length - lbase[l], lextra[l]);
        int d = 0, base = 1, extra = 0;
        for (;;) {  // RFC 1951 distance table, generated
            extra = d < 4 ? 0 : d / 2 - 1;
            int next = base + (1 << extra);
            if (distance < next) break;
            base = next;
            d++;
        }
        return code(d, 5).put(distance - base, extra);
    }
    Bytes bytes() const { return data_; }

private:
    void bit(int b) {
        if (count_ % 8 == 0) data_.push_back(0);
        data_.back() |= static_cast<uint8_t>(b << (count_ % 8));
        count_++;
    }
    Bytes data_;
    size_t count_ = 0;
};

class RecordingSink : public ByteSink {
public:
    bool isReady() override { return true; }
    bool write(const uint8_t* data, uint16_t length) override {
        writes.push_back(length);
        out.insert(out.end(), data, data + length);
        return true;
    }
    std::vector<uint32_t> writes;
    Bytes out;
};

using testsupport::TempDir;

struct Decoded {
    int result;
    Bytes out;
    std::vector<uint32_t> writes;
    uint32_t consumed;  // file position after the decode
};

// Decodes stream (followed by trailing bytes in the same file) through a
// recording sink and checks that no memory stays allocated.
Decoded decode(const Bytes& stream, uint32_t limit = 0, const Bytes& trailing = Bytes(40, 0xA5)) {
    TempDir dir;
    Bytes content = stream;
    content.insert(content.end(), trailing.begin(), trailing.end());
    FileHandle f = openFile(dir.write("s", content).c_str(), OPEN_READ);
    uint32_t before = memoryInUse;
    RecordingSink sink;
    Decoded d;
    FileInput input(f);
    d.result = decodeStream(&sink, &input, limit);
    EXPECT_EQ(memoryInUse, before) << "decoder leaked";
    d.out = sink.out;
    d.writes = sink.writes;
    d.consumed = tellFile(f);
    closeFile(f);
    return d;
}

Bytes str(const char* s) { return Bytes(s, s + strlen(s)); }

// The format's own small examples: result, output, sink writes and the exact
// number of bytes the decoder takes (the rest of the file is given back).
TEST(InflateExamples, SmallStreams) {
    struct Case {
        const char* name;
        Bytes in;
        int result;
        Bytes out;
        std::vector<uint32_t> writes;
        uint32_t consumed;
    } cases[] = {
        {"empty last stored block", {0x0F, 0x00, 0x00}, INFLATE_OK, {}, {0}, 3},
        {"stored without NLEN", {0x0F, 0x03, 0x00, 0x61, 0x62, 0x63}, INFLATE_OK, str("abc"), {3}, 6},
        {"fixed, one literal", {0x9D, 0x08, 0x00}, INFLATE_OK, str("a"), {1}, 3},
        {"fixed, overlapping copy", {0x9D, 0x98, 0x94, 0x0C, 0x41, 0x00}, INFLATE_OK, str("abcabcabc"), {9}, 6},
        {"fixed, end of block only", {0x0D, 0x00}, INFLATE_OK, {}, {0}, 2},
        {"stored then fixed", {0x07, 0x01, 0x00, 0x61, 0x0D, 0x00}, INFLATE_OK, str("a"), {1}, 6},
        {"type 0 with last flag", {0x08}, INFLATE_ERR_FORMAT, {}, {}, 1},
        {"type 0", {0x00}, INFLATE_ERR_FORMAT, {}, {}, 1},
        {"type 4", {0x0C}, INFLATE_ERR_FORMAT, {}, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = decode(c.in);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.out, c.out);
        EXPECT_EQ(d.writes, c.writes);
        EXPECT_EQ(d.consumed, c.consumed);
    }
}

// Blocks of different types in one stream: history, bit position and the
// input buffer carry over from block to block.
TEST(InflateExamples, MixedBlocks) {
    Bytes stored;
    for (int i = 0; i < 40; i++) stored.push_back(static_cast<uint8_t>(i * 5 + 2));
    Bits b;
    b.put(BLOCK_FIXED, 4).fixedSymbol('w').fixedSymbol('x').fixedSymbol(256);  // fixed, not last
    b.put(BLOCK_STORED, 4).align().put(static_cast<uint32_t>(stored.size()), 16);
    for (uint8_t x : stored) b.put(x, 8);
    b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedMatch(10, 42).fixedSymbol('y').fixedSymbol(256);
    Decoded d = decode(b.bytes());
    ASSERT_EQ(d.result, INFLATE_OK);
    Bytes expect = {'w', 'x'};
    expect.insert(expect.end(), stored.begin(), stored.end());
    expect.insert(expect.end(), expect.begin(), expect.begin() + 10);
    expect.push_back('y');
    EXPECT_EQ(d.out, expect);
    EXPECT_EQ(d.consumed, b.bytes().size());
}

// Copies: zeros before the first byte, the full 32,768-byte reach, and
// output handed on in whole windows.
TEST(InflateOutput, CopiesAndWindows) {
    {
        SCOPED_TRACE("distance before the first byte copies zeros");
        Bits b;
        b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedSymbol(0x61).fixedMatch(3, 4).fixedSymbol(256);
        Decoded d = decode(b.bytes());
        EXPECT_EQ(d.result, INFLATE_OK);
        EXPECT_EQ(d.out, (Bytes{0x61, 0, 0, 0}));
    }
    Bytes data(32768);
    srand(7);
    for (auto& x : data) x = static_cast<uint8_t>(rand());
    {
        SCOPED_TRACE("distance 32,768");
        Bits b;
        b.put(BLOCK_STORED, 4).align().put(32768 & 0xFFFF, 16);
        for (uint8_t x : data) b.put(x, 8);
        b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedMatch(258, 32768).fixedMatch(3, 32768).fixedSymbol(256);
        Decoded d = decode(b.bytes());
        ASSERT_EQ(d.result, INFLATE_OK);
        Bytes expect = data;
        expect.insert(expect.end(), data.begin(), data.begin() + 261);
        EXPECT_EQ(d.out, expect);
        EXPECT_EQ(d.writes, (std::vector<uint32_t>{32768, 261}));
    }
    for (uint32_t size : {32768u, 32769u, 4u * 32768 + 5, 10u * 32768}) {
        SCOPED_TRACE(size);
        // A run of one byte: a literal and long copies at distance 1 and 8.
        Bits b;
        b.put(BLOCK_FIXED | BLOCK_LAST, 4);
        Bytes expect;
        for (int i = 0; i < 8; i++) {
            b.fixedSymbol(i);
            expect.push_back(static_cast<uint8_t>(i));
        }
        while (expect.size() < size) {
            uint32_t n = std::min<uint32_t>(258, size - expect.size());
            if (n < 3) {
                b.fixedSymbol(expect[expect.size() - 8]);
                expect.push_back(expect[expect.size() - 8]);
                continue;
            }
            b.fixedMatch(n, 8);
            for (uint32_t i = 0; i < n; i++) expect.push_back(expect[expect.size() - 8]);
        }
        b.fixedSymbol(256);
        Decoded d = decode(b.bytes());
        ASSERT_EQ(d.result, INFLATE_OK);
        EXPECT_EQ(d.out, expect);
        std::vector<uint32_t> writes(size / 32768, 32768);
        writes.push_back(size % 32768);
        EXPECT_EQ(d.writes, writes);
    }
}

// Dynamic block headers: counts, the code-length order, repeats and codes
// that the decoder must refuse.
Bits dynamicHeader(int hlit, int hdist, const std::vector<int>& clInOrder) {
    Bits b;
    b.put(BLOCK_DYNAMIC | BLOCK_LAST, 4).put(hlit, 5).put(hdist, 5).put(static_cast<int>(clInOrder.size()) - 4, 4);
    for (int l : clInOrder) b.put(l, 3);
    return b;
}

TEST(InflateDynamic, HeaderRules) {
    for (int hlit : {30, 31}) {
        SCOPED_TRACE(hlit);
        EXPECT_EQ(decode(dynamicHeader(hlit, 0, {0, 0, 0, 0}).bytes()).result, INFLATE_ERR_DATA);
        EXPECT_EQ(decode(dynamicHeader(0, hlit, {0, 0, 0, 0}).bytes()).result, INFLATE_ERR_DATA);
    }
    // Code-length code: 0, 1, 16, 18 with 2 bits each (codes 00 01 10 11),
    // sent in the order 18, 17, 16, 0, 1.
    auto lengths = [](Bits& b, bool repeatFirst) {
        if (repeatFirst) b.code(2, 2).put(0, 2).code(3, 2).put(94 - 11, 7);  // 16: 3 x previous(0)
        else b.code(3, 2).put(97 - 11, 7);                                   // 18: 97 zeros
        b.code(1, 2);                                                        // 'a' (97): 1 bit
        b.code(3, 2).put(138 - 11, 7).code(3, 2).put(20 - 11, 7);           // 98..255 zero
        b.code(1, 2);                                                        // 256: 1 bit
        b.code(0, 2);                                                        // one distance, 0
    };
    for (bool repeatFirst : {false, true}) {
        SCOPED_TRACE(repeatFirst ? "symbol 16 first repeats 0" : "plain");
        Bits b = dynamicHeader(0, 0, {2, 0, 2, 2, 2});
        lengths(b, repeatFirst);
        b.code(0, 1).code(0, 1).code(1, 1);  // a a end
        Decoded d = decode(b.bytes());
        EXPECT_EQ(d.result, INFLATE_OK);
        EXPECT_EQ(d.out, str("aa"));
    }
    {
        SCOPED_TRACE("repeat running past the lengths");
        Bits b = dynamicHeader(0, 0, {2, 0, 2, 2, 2});
        b.code(3, 2).put(127, 7).code(3, 2).put(127, 7).code(3, 2).put(127, 7);
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("a lone 1-bit code-length code meets its missing code");
        Bits b = dynamicHeader(0, 0, {1, 0, 0, 0});  // only 18, code 0
        b.code(1, 1);
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("all code-length lengths 0: no table");
        EXPECT_EQ(decode(dynamicHeader(0, 0, {0, 0, 0, 0}).bytes()).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("over-subscribed code-length code");
        EXPECT_EQ(decode(dynamicHeader(0, 0, {1, 1, 1, 0}).bytes()).result, INFLATE_ERR_FORMAT);
    }
    {
        SCOPED_TRACE("incomplete literal/length code");
        Bits b = dynamicHeader(0, 0, {2, 0, 2, 2, 2});
        b.code(3, 2).put(97 - 11, 7).code(1, 2);               // 'a': 1 bit
        b.code(3, 2).put(138 - 11, 7).code(3, 2).put(20 - 11, 7);
        b.code(0, 2).code(0, 2);                                // 256 has no code
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("all literal/length lengths 0: lookup without a table");
        Bits b = dynamicHeader(0, 0, {2, 0, 2, 2, 2});
        b.code(3, 2).put(138 - 11, 7).code(3, 2).put(120 - 11, 7);  // 258 zeros
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("a length without a distance code");
        // Code-length code 0, 1, 2, 18 with 2 bits each (00 01 10 11);
        // literal/length code 'a':1 (0), 256:2 (10), 257:2 (11).
        Bits b = dynamicHeader(1, 0, {2, 0, 0, 2, 2, 2});
        b.code(3, 2).put(97 - 11, 7).code(1, 2);
        b.code(3, 2).put(138 - 11, 7).code(3, 2).put(20 - 11, 7);
        b.code(2, 2).code(2, 2).code(0, 2);  // 256, 257, one distance length 0
        b.code(0, 1).code(3, 2);             // 'a', then length 3
        Decoded d = decode(b.bytes());
        EXPECT_EQ(d.result, INFLATE_ERR_DATA);
        EXPECT_TRUE(d.writes.empty());
    }
}

// Table shapes that the format fixes: the end-of-block rule of the primary
// width, the fixed code's invalid symbols.
TEST(InflateTables, EndOfBlockWidthAndFixedCodes) {
    uint8_t lengths[288] = {0};
    lengths[0] = lengths[1] = 2;
    lengths[256] = 5;
    for (int s = 2; s < 242; s++) lengths[s] = 9;
    uint16_t base[31] = {0}, extra[31] = {0};
    HuffmanEntry* table;
    int width;
    uint32_t before = memoryInUse;
    ASSERT_EQ(buildHuffmanTable(lengths, 257, 257, base, extra, 9, &table, &width), INFLATE_OK);
    EXPECT_EQ(width, 5);
    // Index 31 (all ones for five bits) leads to a 4-bit sub-table.
    EXPECT_EQ(table[31].op, 16 + 4);
    EXPECT_EQ(table[31].bits, 5);
    EXPECT_EQ(table[0].op, OP_LITERAL);
    EXPECT_EQ(table[0].bits, 2);
    freeHuffmanTable(table);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(memoryInUse, before);

    EXPECT_EQ(buildHuffmanTable(lengths, 0, 0, base, extra, 9, &table, &width), INFLATE_OK);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(width, 0);

    for (int s : {286, 287}) {
        Bits b;
        b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedSymbol(0x61).fixedSymbol(s).put(0, 16);
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA) << s;
    }
    for (int dcode : {30, 31}) {
        Bits b;
        b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedSymbol(0x61).fixedSymbol(257).code(dcode, 5).put(0, 16);
        EXPECT_EQ(decode(b.bytes()).result, INFLATE_ERR_DATA) << dcode;
    }
}

// The position after a stream: a lookup that peeks past a short end-of-block
// code must not cost the following stream its first byte.
TEST(InflatePosition, LookAheadIsGivenBack) {
    // A one-bit end-of-block code after 9-bit literals: 256:1, 'a':2, 'b':3,
    // 'c':4 and 32 literals of 9 bits (1/2 + 1/4 + 1/8 + 1/16 + 32/512 = 1).
    uint8_t lit[286] = {0};
    lit[256] = 1;
    lit['a'] = 2;
    lit['b'] = 3;
    lit['c'] = 4;
    for (int s = 0; s < 32; s++) lit[0x80 + s] = 9;
    // Code-length code: 0, 9, 18 with 2 bits, 1 with 3, 2 with 4, 3 and 4
    // with 5 (complete).
    std::vector<int> clLen(19, 0);
    clLen[0] = 2; clLen[9] = 2; clLen[18] = 2; clLen[1] = 3; clLen[2] = 4; clLen[3] = 5; clLen[4] = 5;
    // Canonical codes of that code-length code.
    std::vector<int> clCode(19, 0);
    {
        int code = 0;
        for (int len = 1; len <= 7; len++) {
            for (int s = 0; s < 19; s++)
                if (clLen[s] == len) clCode[s] = code++;
            code <<= 1;
        }
    }
    const uint8_t* order = streamcodes::CODE_LENGTH_ORDER;
    std::vector<int> inOrder;
    for (int i = 0; i < 19; i++) inOrder.push_back(clLen[order[i]]);
    while (inOrder.back() == 0) inOrder.pop_back();

    Bits b = dynamicHeader(0, 0, inOrder);
    auto sym = [&](int s) { b.code(clCode[s], clLen[s]); };
    for (int i = 0; i < 257;) {
        int run = 0;
        while (i + run < 257 && lit[i + run] == 0 && run < 138) run++;
        if (run >= 11) {
            sym(18);
            b.put(run - 11, 7);
            i += run;
        } else {
            sym(lit[i]);
            i++;
        }
    }
    sym(0);  // one distance length 0
    // Canonical literal/length codes for lit[].
    std::vector<int> code(286, 0);
    {
        int c = 0;
        for (int len = 1; len <= 15; len++) {
            for (int s = 0; s < 286; s++)
                if (lit[s] == len) code[s] = c++;
            c <<= 1;
        }
    }
    b.code(code[0x80], 9).code(code['a'], 2).code(code[0x9F], 9).code(code[256], 1);
    Bytes stream = b.bytes();
    Bytes trailing = {0x0F, 0x02, 0x00, 'x', 'y'};
    trailing.insert(trailing.end(), 50, 0xEE);
    Decoded d = decode(stream, 0, trailing);
    ASSERT_EQ(d.result, INFLATE_OK);
    EXPECT_EQ(d.out, (Bytes{0x80, 'a', 0x9F}));
    EXPECT_EQ(d.consumed, stream.size());
    Decoded l = decode(stream, static_cast<uint32_t>(stream.size()), trailing);
    EXPECT_EQ(l.result, INFLATE_OK);
    EXPECT_EQ(l.consumed, stream.size());

    // Two streams back to back, each preceded by its decoded size, as in the
    // string-table record; read from one handle.
    TempDir dir;
    Bytes file;
    for (int k = 0; k < 3; k++) {
        Bytes size = {3, 0, 0, 0};
        file.insert(file.end(), size.begin(), size.end());
        file.insert(file.end(), stream.begin(), stream.end());
    }
    FileHandle f = openFile(dir.write("tables", file).c_str(), OPEN_READ);
    for (int k = 0; k < 3; k++) {
        uint32_t size;
        ASSERT_EQ(readExact(f, &size, 4), READ_OK);
        ASSERT_EQ(size, 3u);
        uint8_t out[3];
        ASSERT_TRUE(decodeToMemory(out, 3, f, 0)) << k;
        EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x80, 'a', 0x9F}));
    }
    EXPECT_EQ(tellFile(f), file.size());
    closeFile(f);
}

// Input that ends too early, limits, and sinks that refuse output: a clear
// failure, never a hang or a write out of bounds.
TEST(InflateFailures, InputLimitsAndSinks) {
    {
        SCOPED_TRACE("stored block cut short");
        EXPECT_EQ(decode({0x0F, 0x05, 0x00, 'a', 'b'}, 0, {}).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("no input at all");
        EXPECT_EQ(decode({}, 0, {}).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("fixed block without its end");
        Bits b;
        b.put(BLOCK_FIXED | BLOCK_LAST, 4).fixedSymbol('a');
        EXPECT_EQ(decode(b.bytes(), 0, {}).result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("dynamic block whose all-zero code is a literal, cut short");
        // Code-length code 0:2, 1:2, 16:2, 18:2 (as in HeaderRules); literal
        // 0 gets code 0 (1 bit), 256 code 1.
        Bits b = dynamicHeader(0, 0, {2, 0, 2, 2, 2});
        b.code(1, 2).code(3, 2).put(138 - 11, 7).code(3, 2).put(117 - 11, 7).code(1, 2).code(0, 2);
        b.code(0, 1).code(0, 1);
        Decoded d = decode(b.bytes(), 0, {});
        EXPECT_EQ(d.result, INFLATE_ERR_DATA);
    }
    {
        SCOPED_TRACE("a limit cuts the stream: the bytes after it are not read");
        Decoded d = decode({0x0F, 0x03, 0x00, 0x61, 0x62, 0x63}, 5);
        EXPECT_EQ(d.result, INFLATE_ERR_DATA);
        EXPECT_LE(d.consumed, 5u);
    }
    {
        SCOPED_TRACE("a limit below the buffer size, stream followed by data");
        Decoded d = decode({0x0F, 0x03, 0x00, 0x61, 0x62, 0x63}, 6);
        EXPECT_EQ(d.result, INFLATE_OK);
        EXPECT_EQ(d.out, str("abc"));
        EXPECT_EQ(d.consumed, 6u);
    }
    {
        SCOPED_TRACE("limited source: the input ends before the limit");
        Decoded d = decode({0x0F, 0x03, 0x00, 0x61}, 6, {});
        EXPECT_EQ(d.result, INFLATE_ERR_DATA);
    }
    TempDir dir;
    std::string path = dir.write("s", {0x0F, 0x03, 0x00, 0x61, 0x62, 0x63});
    {
        SCOPED_TRACE("memory sink: output beyond capacity is refused, not written");
        uint8_t out[8];
        memset(out, 0xCC, sizeof out);
        FileHandle f = openFile(path.c_str(), OPEN_READ);
        EXPECT_FALSE(decodeToMemory(out, 2, f, 0));
        closeFile(f);
        EXPECT_EQ(out[0], 0xCC);  // the only window never came
        EXPECT_EQ(out[2], 0xCC);
        f = openFile(path.c_str(), OPEN_READ);
        EXPECT_TRUE(decodeToMemory(out, 3, f, 0));
        closeFile(f);
        EXPECT_EQ(out[2], 'c');
        EXPECT_EQ(out[3], 0xCC);
    }
    {
        SCOPED_TRACE("null destination, invalid input: false, nothing read");
        FileHandle f = openFile(path.c_str(), OPEN_READ);
        uint8_t out[4];
        EXPECT_FALSE(decodeToMemory(nullptr, 4, f, 0));
        EXPECT_EQ(tellFile(f), 0u);
        closeFile(f);
        EXPECT_FALSE(decodeToMemory(out, 4, INVALID_FILE, 0));
    }
    for (int shortWrite : {0, 1}) {
        SCOPED_TRACE(shortWrite ? "short file write" : "failed file write");
        FileHandle in = openFile(path.c_str(), OPEN_READ);
        std::string outPath = dir.path("out");
        FileHandle out = createFreshFile(outPath.c_str());
        fileFaults.writeBudget = 2;
        fileFaults.shortWrite = shortWrite;
        EXPECT_FALSE(decodeToFile(out, in, 0));
        fileFaults.writeBudget = -1;
        closeFile(out);
        closeFile(in);
    }
}

}  // namespace
