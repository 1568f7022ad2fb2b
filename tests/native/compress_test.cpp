// Compressor and decoder together: whatever the packaging tool writes, the
// installer reads back byte for byte, from any source into any sink, and the
// file stands right after each stream.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <libdeflate.h>

#include "package/inflate.h"
#include "pkg/compress.h"
#include "support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

using testsupport::TempDir;

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes textBytes(size_t n) {
    static const char* words[] = {"update ", "file ", "the ", "installer ", "version ", "delta ",
                                  "stream\n", "package ", "of ", "window ", "copy "};
    std::mt19937 rng(3);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % 11];
        b.insert(b.end(), w, w + strlen(w));
    }
    b.resize(n);
    return b;
}

Bytes ownExecutable() {
    FileHandle f = openFile("/proc/self/exe", OPEN_READ);
    Bytes b(fileSize(f));
    readExact(f, b.data(), static_cast<uint32_t>(b.size()));
    closeFile(f);
    return b;
}

// A mixed file: text, random, runs and copies of earlier parts.
Bytes mixedBytes(size_t n) {
    Bytes b = textBytes(n / 4);
    Bytes r = randomBytes(n / 4, 9);
    b.insert(b.end(), r.begin(), r.end());
    b.insert(b.end(), n / 8, 0);
    b.insert(b.end(), b.begin() + n / 8, b.begin() + n / 8 + n / 4);
    b.resize(n, 0x11);
    return b;
}

struct Sample {
    std::string name;
    Bytes data;
};

std::vector<Sample> samples() {
    std::vector<Sample> s;
    s.push_back({"empty", {}});
    s.push_back({"one byte", {0x42}});
    for (size_t n : {32767, 32768, 32769, 65535, 65536}) {
        s.push_back({"random " + std::to_string(n), randomBytes(n, static_cast<uint32_t>(n))});
        s.push_back({"text " + std::to_string(n), textBytes(n)});
    }
    s.push_back({"zeros 200000", Bytes(200000, 0)});
    s.push_back({"mixed 3 MiB", mixedBytes(3 << 20)});
    s.push_back({"own executable", ownExecutable()});
    return s;
}

// Round trips: every sample, memory and file sinks, unlimited and limited
// sources, with other data behind the stream in the same file.
TEST(CompressRoundTrip, AllSourcesAndSinks) {
    TempDir dir;
    const Bytes trailer = {0xDE, 0xAD, 0xBE, 0xEF};
    for (const Sample& sample : samples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        Bytes stream = pkg::compressStream(data.data(), data.size());
        ASSERT_FALSE(stream.empty());
        EXPECT_LE(stream.size(), pkg::storeStream(data.data(), data.size()).size());
        Bytes file = {1, 2, 3};  // something in front, too
        file.insert(file.end(), stream.begin(), stream.end());
        file.insert(file.end(), trailer.begin(), trailer.end());
        std::string path = dir.write("in", file);
        for (uint32_t limit : {0u, static_cast<uint32_t>(stream.size())}) {
            SCOPED_TRACE(limit ? "limited" : "unlimited");
            FileHandle in = openFile(path.c_str(), OPEN_READ);
            seekTo(in, 3);
            // The destination ends the allocation, so ASan builds see an overrun.
            uint8_t* out = static_cast<uint8_t*>(malloc(data.size() + 1));
            ASSERT_TRUE(decodeToMemory(out, static_cast<uint32_t>(data.size()), in, limit));
            EXPECT_TRUE(std::equal(data.begin(), data.end(), out));
            free(out);
            EXPECT_EQ(tellFile(in), 3 + stream.size());
            uint8_t after[4];
            ASSERT_EQ(readExact(in, after, 4), READ_OK);
            EXPECT_EQ(Bytes(after, after + 4), trailer);

            seekTo(in, 3);
            std::string outPath = dir.path("out");
            FileHandle outFile = createFreshFile(outPath.c_str());
            ASSERT_TRUE(decodeToFile(outFile, in, limit));
            closeFile(outFile);
            EXPECT_EQ(tellFile(in), 3 + stream.size());
            closeFile(in);
            FileHandle check = openFile(outPath.c_str(), OPEN_READ);
            Bytes back(fileSize(check));
            readExact(check, back.data(), static_cast<uint32_t>(back.size()));
            closeFile(check);
            EXPECT_TRUE(back == data);
        }
    }
}

// Several streams back to back, each preceded by its 32-bit decoded size, as
// the string-table record holds them: each decode starts where the last one
// stopped.
TEST(CompressRoundTrip, StreamsBackToBack) {
    std::vector<Bytes> parts = {textBytes(100), {}, randomBytes(5000, 1), textBytes(70000), {7}};
    Bytes file;
    for (const Bytes& p : parts) {
        uint32_t n = static_cast<uint32_t>(p.size());
        file.insert(file.end(), reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + 4);
        Bytes s = pkg::compressStream(p.data(), p.size());
        file.insert(file.end(), s.begin(), s.end());
    }
    TempDir dir;
    FileHandle f = openFile(dir.write("tables", file).c_str(), OPEN_READ);
    for (const Bytes& p : parts) {
        uint32_t n;
        ASSERT_EQ(readExact(f, &n, 4), READ_OK);
        ASSERT_EQ(n, p.size());
        Bytes out(n + 1);
        ASSERT_TRUE(decodeToMemory(out.data(), n, f, 0));
        EXPECT_TRUE(std::equal(p.begin(), p.end(), out.begin()));
    }
    EXPECT_EQ(tellFile(f), file.size());
    closeFile(f);
}

// The compressor's output: deterministic, as small as libdeflate's best
// within 1 %, stored when nothing else pays.
TEST(CompressOutput, SizeAndDeterminism) {
    Bytes exe = ownExecutable();
    Bytes text = textBytes(1 << 20);
    for (const Bytes* data : {&exe, &text}) {
        Bytes a = pkg::compressStream(data->data(), data->size());
        Bytes b = pkg::compressStream(data->data(), data->size());
        EXPECT_EQ(a, b);
        libdeflate_compressor* c = libdeflate_alloc_compressor(12);
        Bytes raw(libdeflate_deflate_compress_bound(c, data->size()));
        size_t rawSize = libdeflate_deflate_compress(c, data->data(), data->size(), raw.data(), raw.size());
        libdeflate_free_compressor(c);
        EXPECT_LE(a.size(), rawSize * 101 / 100);
    }
    Bytes noise = randomBytes(100000, 5);
    EXPECT_EQ(pkg::compressStream(noise.data(), noise.size()),
              pkg::storeStream(noise.data(), noise.size()));
    Bytes empty;
    EXPECT_LE(pkg::compressStream(empty.data(), 0).size(), 3u);
}

}  // namespace
