// Benchmark of the package stream decoder and compressor against named
// anchors, in one run per build flavour of the decoder:
//   ours     decodeToMemory from a file through the file operations (the
//            installer's real path: 4096-byte reads, 32,768-byte windows)
//   zlib     inflate of the raw Deflate stream that libdeflate level 12 writes
//            (the same symbols our compressor re-emits), memory to memory
//   libdeflate  libdeflate_deflate_decompress of that stream, memory to memory
// and the compressed sizes: ours, libdeflate level 12, zlib level 9.
// usage: bench_inflate_<flavour> NAME=FILE[,FILE...] ...
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "package/inflate.h"
#include "pkg/compress.h"

typedef std::vector<uint8_t> Bytes;

static double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Best time of a few runs of at least 0.2 s in total.
template <class F>
static double bestSeconds(F f) {
    double best = 1e30, total = 0;
    for (int i = 0; i < 20 && (i < 3 || total < 0.4); i++) {
        double t0 = now();
        f();
        double t = now() - t0;
        total += t;
        if (t < best) best = t;
    }
    return best;
}

static Bytes readFile(const char* path, size_t cap) {
    Bytes b;
    FILE* f = fopen(path, "rb");
    if (!f) return b;
    b.resize(cap);
    b.resize(fread(b.data(), 1, cap, f));
    fclose(f);
    return b;
}

static Bytes zlibRaw(const Bytes& in, int level) {
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

int main(int argc, char** argv) {
    printf("decoder built with %s\n", BENCH_FLAVOUR);
    printf("%-10s %8s | %9s %9s %9s | %7s %7s | %9s %9s %9s %8s\n", "corpus", "MiB", "ours MB/s",
           "zlib MB/s", "ldef MB/s", "/zlib", "/ldef", "ours B", "ldef12 B", "zlib9 B",
           "/ldef12");
    char tmpl[] = "/tmp/bench_inflate.XXXXXX";
    const char* dir = mkdtemp(tmpl);
    std::string streamPath = std::string(dir) + "/stream";
    bool allOk = true;
    for (int a = 1; a < argc; a++) {
        std::string arg = argv[a];
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        Bytes data;
        size_t from = eq + 1;
        while (from <= arg.size()) {
            size_t comma = arg.find(',', from);
            if (comma == std::string::npos) comma = arg.size();
            Bytes f = readFile(arg.substr(from, comma - from).c_str(), 64u << 20);
            data.insert(data.end(), f.begin(), f.end());
            from = comma + 1;
        }
        if (data.empty()) continue;

        Bytes ours = pkg::compressStream(data.data(), data.size());
        libdeflate_compressor* c = libdeflate_alloc_compressor(12);
        Bytes raw(libdeflate_deflate_compress_bound(c, data.size()));
        raw.resize(libdeflate_deflate_compress(c, data.data(), data.size(), raw.data(), raw.size()));
        libdeflate_free_compressor(c);
        Bytes z9 = zlibRaw(data, 9);

        FileHandle w = createFreshFile(streamPath.c_str());
        writeAll(w, ours.data(), static_cast<uint32_t>(ours.size()));
        closeFile(w);
        Bytes out(data.size());
        FileHandle in = openFile(streamPath.c_str(), OPEN_READ);
        bool ok = true;
        double tOurs = bestSeconds([&] {
            seekTo(in, 0);
            ok &= decodeToMemory(out.data(), static_cast<uint32_t>(out.size()), in, 0);
        });
        closeFile(in);
        ok &= out == data;

        double tZlib = bestSeconds([&] {
            z_stream z = {};
            inflateInit2(&z, -15);
            z.next_in = raw.data();
            z.avail_in = static_cast<uInt>(raw.size());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            ok &= inflate(&z, Z_FINISH) == Z_STREAM_END;
            inflateEnd(&z);
        });
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        double tLd = bestSeconds([&] {
            ok &= libdeflate_deflate_decompress(d, raw.data(), raw.size(), out.data(), out.size(),
                                                nullptr) == LIBDEFLATE_SUCCESS;
        });
        libdeflate_free_decompressor(d);
        ok &= out == data;
        allOk &= ok;

        double mb = data.size() / 1e6;
        printf("%-10s %8.2f | %9.0f %9.0f %9.0f | %6.2fx %6.2fx | %9zu %9zu %9zu %7.4fx%s\n",
               name.c_str(), data.size() / 1048576.0, mb / tOurs, mb / tZlib, mb / tLd,
               tZlib / tOurs, tLd / tOurs, ours.size(), raw.size(), z9.size(),
               static_cast<double>(ours.size()) / raw.size(), ok ? "" : "  MISMATCH");
    }
    unlink(streamPath.c_str());
    rmdir(dir);
    return allOk ? 0 : 1;
}
