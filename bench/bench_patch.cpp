// Patch benchmark helper (not a test); bench/patch.sh drives it and the
// anchors.
//   bench_patch diff OLD NEW OUT             writes our delta, prints its
//                                            size and time; the delta file
//                                            is one byte (1 = difference
//                                            copies, 0 = plain) and the
//                                            encoded streams
//   bench_patch package OLD NEW STUB OUT     an installer updating one file
//                                            named "f.bin" from OLD to NEW
//   bench_patch apply OLD DELTA OUT          rebuilds NEW natively through
//                                            the engine's interpreter
// BENCH_FORMS=1 in the environment makes diff print both forms' sizes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "engine/delta.h"
#include "package/inflate.h"
#include "pkg/difference.h"
#include "pkg/differ.h"
#include "pkg/update.h"
#include "pkg/stub.h"
#include "pkg/suffixdiff.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint32_t fieldAt(FileHandle h, bool wide) {
    uint8_t b[4] = {0, 0, 0, 0};
    readExact(h, b, wide ? 4 : 2);
    return b[0] | (b[1] << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

// Reads one encoded stream at the file's position into out (of its size).
bool readStream(FileHandle h, pkg::Bytes& out, uint32_t expected = 0xFFFFFFFF) {
    uint8_t header = 0;
    readExact(h, &header, 1);
    uint32_t size = fieldAt(h, header & STREAM_SIZE_32);
    if (expected != 0xFFFFFFFF && size != expected) return false;
    out.resize(size);
    if (!size) return true;
    if (!(header & STREAM_COMPRESSED)) return readExact(h, out.data(), size) == READ_OK;
    uint32_t packed = fieldAt(h, header & STREAM_PACKED_32);
    uint32_t start = tellFile(h);
    bool ok = decodeToMemory(out.data(), size, h, 0);
    seekTo(h, start + packed);
    return ok;
}

struct FileDifference {
    DifferenceSource source;
    FileHandle file;
    uint32_t left;
    pkg::Bytes chunk;
};

int nextChunk(DifferenceSource* source) {
    FileDifference* d = reinterpret_cast<FileDifference*>(source);
    uint32_t n = d->left < DELTA_DIFFERENCE_CHUNK ? d->left : DELTA_DIFFERENCE_CHUNK;
    if (!n || !readStream(d->file, d->chunk, n)) return 1;
    d->left -= n;
    source->bytes = d->chunk.data();
    source->length = n;
    return 0;
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
        // As updpack's differ does it (pkg/updatework.cpp runWork).
        double t = now();
        pkg::Bytes diff, plain;
        std::optional<pkg::DeltaStreams> plainStreams;
        double tDiff = 0;
        if (auto d = pkg::diffApproximate(o, n)) {
            diff = pkg::encodeDelta(d->streams);
            diff.insert(diff.end(), d->difference.begin(), d->difference.end());
            tDiff = now() - t;
            if (o.size() > pkg::kSearchPlainLimit) plainStreams = pkg::exactCopies(d->streams, o, n);
            if (std::getenv("BENCH_FORMS"))
                std::fprintf(stderr, "difference %zu (%.2fs): commands %zu data %zu difference %zu\n", diff.size(),
                             tDiff, pkg::encodeStream(d->streams.commands).size(),
                             pkg::encodeStream(d->streams.data).size(), d->difference.size());
        }
        double t2 = now();
        if (!plainStreams) plainStreams = pkg::diffFiles(o, n);
        plain = pkg::encodeDelta(*plainStreams);
        if (std::getenv("BENCH_FORMS")) std::fprintf(stderr, "plain %zu (%.2fs)\n", plain.size(), now() - t2);
        bool useDiff = !diff.empty() && diff.size() < plain.size();
        pkg::Bytes out{uint8_t(useDiff ? 1 : 0)};
        const pkg::Bytes& chosen = useDiff ? diff : plain;
        out.insert(out.end(), chosen.begin(), chosen.end());
        t = now() - t;
        pkg::writeFile(argv[4], out);
        std::printf("%zu %.3f\n", out.size(), t);
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
        double t = now();
        FileHandle delta = openFile(argv[3], OPEN_READ);
        uint8_t form = 0;
        readExact(delta, &form, 1);
        pkg::Bytes commands, data;
        readStream(delta, commands);
        readStream(delta, data);
        FileDifference difference;
        difference.source = {nullptr, 0, 0, nextChunk};
        difference.file = delta;
        if (form == 1) difference.source.size = difference.left = fieldAt(delta, true);
        FileHandle o = openFile(argv[2], OPEN_READ);
        FileHandle w = createFreshFile(argv[4]);
        DeltaJob job = {commands.data(), uint32_t(commands.size()), data.empty() ? nullptr : data.data(),
                        uint32_t(data.size()), o, fileSize(o), w,
                        uint32_t(deltaOutputSize(commands.data(), uint32_t(commands.size()))), nullptr, 0,
                        nullptr, nullptr, form == 1 ? &difference.source : nullptr};
        int r = applyDelta(&job);
        closeFile(o);
        closeFile(w);
        closeFile(delta);
        std::printf("%d %.3f\n", r, now() - t);
        return r;
    }
    return 2;
}
