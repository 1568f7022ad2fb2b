// Patch benchmark helper (not a test); bench/run.sh drives it and the
// anchors.
//   bench_patch diff OLD NEW OUT             writes our encoded delta (both
//                                            streams), prints its size
//   bench_patch package OLD NEW STUB OUT     an installer updating one file
//                                            named "f.bin" from OLD to NEW
//   bench_patch apply OLD DELTA OUT          rebuilds NEW natively through
//                                            the engine's interpreter
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/delta.h"
#include "package/inflate.h"
#include "pkg/differ.h"
#include "pkg/stub.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Reads one encoded stream from memory (decoding through a temporary file).
pkg::Bytes decodeStreamAt(const pkg::Bytes& delta, size_t& at, const std::string& scratch) {
    uint8_t header = delta[at++];
    auto get = [&](bool wide) {
        uint32_t v = delta[at] | (delta[at + 1] << 8);
        if (wide) v |= (uint32_t(delta[at + 2]) << 16) | (uint32_t(delta[at + 3]) << 24);
        at += wide ? 4 : 2;
        return v;
    };
    uint32_t size = get(header & STREAM_SIZE_32);
    pkg::Bytes out(size);
    if (!size) return out;
    if (!(header & STREAM_COMPRESSED)) {
        std::memcpy(out.data(), &delta[at], size);
        at += size;
        return out;
    }
    uint32_t packed = get(header & STREAM_PACKED_32);
    pkg::writeFile(scratch, pkg::Bytes(delta.begin() + at, delta.begin() + at + packed));
    FileHandle h = openFile(scratch.c_str(), OPEN_READ);
    if (!decodeToMemory(out.data(), size, h, 0)) std::fprintf(stderr, "decode failed\n");
    closeFile(h);
    at += packed;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_patch diff|package|apply ...\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "diff") {
        pkg::Bytes o = pkg::readFile(argv[2]), n = pkg::readFile(argv[3]);
        double t = now();
        pkg::Bytes d = pkg::encodeDelta(pkg::diffFiles(o, n));
        pkg::Bytes all = pkg::encodeDelta(pkg::insertAll(n));
        if (all.size() < d.size()) d.swap(all);
        t = now() - t;
        pkg::writeFile(argv[4], d);
        std::printf("%zu %.3f\n", d.size(), t);
        return 0;
    }
    if (mode == "package" && argc >= 6) {
        pkg::FileSet before = {{"f.bin", pkg::readFile(argv[2])}};
        pkg::FileSet after = {{"f.bin", pkg::readFile(argv[3])}};
        pkg::BuiltUpdate u = pkg::buildUpdateFromSets({before}, after, pkg::loadStub(argv[4]), {});
        pkg::writeUpdate(u, argv[5]);
        std::printf("%u\n", u.dataSize);
        return 0;
    }
    if (mode == "apply") {
        pkg::Bytes delta = pkg::readFile(argv[3]);
        std::string scratch = std::string(argv[4]) + ".stream";
        double t = now();
        size_t at = 0;
        pkg::Bytes commands = decodeStreamAt(delta, at, scratch);
        pkg::Bytes data = decodeStreamAt(delta, at, scratch);
        FileHandle o = openFile(argv[2], OPEN_READ);
        FileHandle w = createFreshFile(argv[4]);
        DeltaJob job = {commands.data(), uint32_t(commands.size()), data.empty() ? nullptr : data.data(),
                        uint32_t(data.size()), o, fileSize(o), w,
                        uint32_t(deltaOutputSize(commands.data(), uint32_t(commands.size()))), nullptr, 0,
                        nullptr, nullptr};
        int r = applyDelta(&job);
        closeFile(o);
        closeFile(w);
        std::remove(scratch.c_str());
        std::printf("%d %.3f\n", r, now() - t);
        return r;
    }
    return 2;
}
