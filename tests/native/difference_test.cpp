// Deltas with difference copies: the interpreter adds each difference byte
// to its copied byte whatever the chunking, blanks regions first, and
// refuses a difference stream that does not fit its copies before it writes
// anything; the packager lays the stream out in chunks, picks the form per
// entry, and the installer's engine rebuilds such entries exactly (volumes
// and regions included) and stops on short, long or damaged streams
// without touching the installed file.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "engine/delta.h"
#include "package/filetable.h"
#include "engine/install.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/inflate.h"
#include "pkg/difference.h"
#include "pkg/differ.h"
#include "pkg/update.h"
#include "pkg/suffixdiff.h"
#include "support.h"
#include "updpack/commands.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;
using Bytes = pkg::Bytes;

namespace {

// Code-like bytes: instructions with 32-bit addresses, `shift` moving the
// upper half of the targets as a relink does.
Bytes code(size_t n, uint32_t seed, uint32_t shift) { return testcommon::codeLike(n, seed, shift, 0x4000); }

// Difference bytes in memory, handed out in chunks of the given sizes (the
// last size repeats); failAt = the call that fails (0 = none).
struct MemoryDifference {
    DifferenceSource source;
    Bytes bytes;
    size_t at = 0;
    std::vector<size_t> sizes;
    size_t calls = 0;
    size_t failAt = 0;
};

int nextFromMemory(DifferenceSource* s) {
    MemoryDifference* m = reinterpret_cast<MemoryDifference*>(s);
    m->calls++;
    if (m->calls == m->failAt) return 42;
    size_t n = m->sizes[std::min(m->calls, m->sizes.size()) - 1];
    n = std::min(n, m->bytes.size() - m->at);
    s->bytes = m->bytes.data() + m->at;
    s->length = static_cast<uint32_t>(n);
    m->at += n;
    return 0;
}

// Reads the chunks of an encoded difference stream from a file, as the
// engine's reader does (sizes checked, bodies decoded).
struct FileDifference {
    DifferenceSource source;
    FileHandle file;
    uint32_t left = 0;
    Bytes chunk;
};

uint32_t field(FileHandle h, bool wide) {
    uint8_t b[4] = {0, 0, 0, 0};
    readExact(h, b, wide ? 4 : 2);
    return b[0] | (b[1] << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

int nextFromFile(DifferenceSource* s) {
    FileDifference* d = reinterpret_cast<FileDifference*>(s);
    uint32_t n = std::min(d->left, DELTA_DIFFERENCE_CHUNK);
    uint8_t header = 0;
    readExact(d->file, &header, 1);
    if (!n || field(d->file, header & STREAM_SIZE_32) != n) return ERR_READ;
    d->chunk.assign(n, 0);
    if (header & STREAM_COMPRESSED) {
        uint32_t packed = field(d->file, header & STREAM_PACKED_32);
        uint32_t start = tellFile(d->file);
        if (!decodeToMemory(d->chunk.data(), n, d->file, 0)) return ERR_READ;
        seekTo(d->file, start + packed);
    } else if (readExact(d->file, d->chunk.data(), n)) {
        return ERR_READ;
    }
    d->left -= n;
    s->bytes = d->chunk.data();
    s->length = n;
    return ERR_NONE;
}

class DifferenceApply : public ::testing::Test {
protected:
    int run(const pkg::DeltaStreams& delta, const Bytes& old, DifferenceSource* difference, Bytes* out,
            const PreservedRegion* regions = nullptr, uint32_t regionCount = 0) {
        std::string oldPath = temp.write("old", old);
        FileHandle o = openFile(oldPath.c_str(), OPEN_READ);
        FileHandle w = createFreshFile(temp.path("new").c_str());
        uint32_t builds = uint32_t(deltaOutputSize(delta.commands.data(), uint32_t(delta.commands.size())));
        DeltaJob job = {delta.commands.data(), static_cast<uint32_t>(delta.commands.size()),
                        delta.data.empty() ? nullptr : delta.data.data(), static_cast<uint32_t>(delta.data.size()),
                        o, static_cast<uint32_t>(old.size()), w, builds, regions, regionCount, nullptr, nullptr,
                        difference};
        int r = applyDelta(&job);
        closeFile(o);
        closeFile(w);
        *out = pkg::readFile(temp.path("new"));
        return r;
    }

    // Applies a delta with its encoded difference stream.
    int runEncoded(const pkg::DifferenceDelta& d, const Bytes& old, Bytes* out) {
        std::string path = temp.write("difference", d.difference);
        FileDifference source;
        source.source = {nullptr, 0, 0, nextFromFile};
        source.file = openFile(path.c_str(), OPEN_READ);
        source.source.size = source.left = field(source.file, true);
        int r = run(d.streams, old, &source.source, out);
        closeFile(source.file);
        return r;
    }

    testsupport::TempDir temp;
};

}  // namespace

// Every copied byte gains the next difference byte modulo 256, whether a
// copy spans several chunks or a chunk several copies.
TEST_F(DifferenceApply, CopiedBytesGainTheirDifferenceAcrossChunks) {
    Bytes old = code(3000, 1, 0);
    pkg::DeltaStreams delta;
    pkg::encodeCopy(delta.commands, 1000, 0);
    pkg::encodeInsert(delta, reinterpret_cast<const uint8_t*>("XYZ"), 3);
    pkg::encodeCopy(delta.commands, 500, 500);
    Bytes diff(1500);
    for (size_t i = 0; i < diff.size(); i++) diff[i] = static_cast<uint8_t>(i * 37 + 200);
    Bytes expected;
    for (size_t i = 0; i < 1000; i++) expected.push_back(static_cast<uint8_t>(old[i] + diff[i]));
    expected.insert(expected.end(), {'X', 'Y', 'Z'});
    for (size_t i = 0; i < 500; i++) expected.push_back(static_cast<uint8_t>(old[1500 + i] + diff[1000 + i]));

    for (const std::vector<size_t>& sizes :
         std::vector<std::vector<size_t>>{{1500}, {1}, {999, 2, 7}, {1000, 500}, {13}}) {
        MemoryDifference m;
        m.source = {nullptr, 0, 1500, nextFromMemory};
        m.bytes = diff;
        m.sizes = sizes;
        Bytes out;
        ASSERT_EQ(run(delta, old, &m.source, &out), DELTA_OK) << sizes[0];
        EXPECT_EQ(out, expected) << sizes[0];
    }
}

// A located region is blanked first; its bytes are then the difference
// bytes alone (which restore may overwrite later).
TEST_F(DifferenceApply, RegionsAreBlankedBeforeTheDifferenceIsAdded) {
    Bytes old = code(400, 2, 0);
    pkg::DeltaStreams delta;
    pkg::encodeCopy(delta.commands, 400, 0);
    MemoryDifference m;
    m.source = {nullptr, 0, 400, nextFromMemory};
    m.bytes.assign(400, 3);
    m.sizes = {64};
    PreservedRegion region = {20, 100, 1, 0};
    Bytes out;
    ASSERT_EQ(run(delta, old, &m.source, &out, &region, 1), DELTA_OK);
    for (size_t i = 0; i < 400; i++)
        EXPECT_EQ(out[i], i >= 100 && i < 120 ? 3 : static_cast<uint8_t>(old[i] + 3)) << i;
}

// A difference stream that declares more or fewer bytes than the copies
// take, a first chunk that cannot be had and an empty chunk are refused
// with nothing written; a later chunk that fails stops the build with the
// source's failure.
TEST_F(DifferenceApply, HostileDifferenceStreams) {
    Bytes old = code(5000, 3, 0);
    pkg::DeltaStreams delta;
    pkg::encodeCopy(delta.commands, 3000, 0);
    pkg::encodeCopy(delta.commands, 1000, 0);
    Bytes out;
    for (uint32_t declared : {3999u, 4001u, 0u}) {
        MemoryDifference m;
        m.source = {nullptr, 0, declared, nextFromMemory};
        m.bytes.assign(4001, 0);
        m.sizes = {4001};
        EXPECT_EQ(run(delta, old, &m.source, &out), DELTA_BAD) << declared;
        EXPECT_TRUE(out.empty()) << declared;
        EXPECT_EQ(m.calls, 0u) << declared;
    }
    MemoryDifference first;
    first.source = {nullptr, 0, 4000, nextFromMemory};
    first.bytes.assign(4000, 0);
    first.sizes = {1000};
    first.failAt = 1;
    EXPECT_EQ(run(delta, old, &first.source, &out), DELTA_SOURCE_FAILED);
    EXPECT_TRUE(out.empty());

    MemoryDifference empty;
    empty.source = {nullptr, 0, 4000, nextFromMemory};
    empty.bytes.assign(4000, 0);
    empty.sizes = {0};
    EXPECT_EQ(run(delta, old, &empty.source, &out), DELTA_BAD);
    EXPECT_TRUE(out.empty());

    MemoryDifference later;
    later.source = {nullptr, 0, 4000, nextFromMemory};
    later.bytes.assign(4000, 0);
    later.sizes = {1000};
    later.failAt = 3;
    EXPECT_EQ(run(delta, old, &later.source, &out), DELTA_SOURCE_FAILED);
}

// The stream: a size word, then full chunks and one partial chunk; a
// stream of zeros made directly is the one a writer makes.
TEST(DifferenceStream, ChunksOnTheirBoundaries) {
    for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(DELTA_DIFFERENCE_CHUNK), uint64_t(DELTA_DIFFERENCE_CHUNK) + 1,
                       uint64_t(2) * DELTA_DIFFERENCE_CHUNK + 5}) {
        pkg::DifferenceWriter w;
        w.addZeros(n / 2);
        Bytes one = {0};
        if (n) w.add(one.data(), 1);
        w.addZeros(n - n / 2 - (n ? 1 : 0));
        Bytes written = w.finish();
        EXPECT_EQ(written, pkg::zeroDifference(n)) << n;
        ASSERT_GE(written.size(), 4u);
        EXPECT_EQ(written[0] | (written[1] << 8) | (written[2] << 16) | (uint32_t(written[3]) << 24), n);
        // Walk the chunks: every one decodes to a full chunk but the last.
        size_t at = 4, chunks = 0;
        uint64_t total = 0;
        while (at < written.size()) {
            uint8_t header = written[at];
            uint32_t size = written[at + 1] | (written[at + 2] << 8);
            size_t fieldBytes = 2;
            if (header & STREAM_SIZE_32) {
                size |= (uint32_t(written[at + 3]) << 16) | (uint32_t(written[at + 4]) << 24);
                fieldBytes = 4;
            }
            size_t body = size;
            size_t packedBytes = 0;
            if (header & STREAM_COMPRESSED) {
                packedBytes = header & STREAM_PACKED_32 ? 4 : 2;
                const uint8_t* p = &written[at + 1 + fieldBytes];
                body = p[0] | (p[1] << 8) | (packedBytes == 4 ? (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24) : 0);
            }
            at += 1 + fieldBytes + packedBytes + body;
            total += size;
            chunks++;
            if (total < n) EXPECT_EQ(size, DELTA_DIFFERENCE_CHUNK) << n;
        }
        EXPECT_EQ(at, written.size()) << n;
        EXPECT_EQ(total, n);
        EXPECT_EQ(chunks, (n + DELTA_DIFFERENCE_CHUNK - 1) / DELTA_DIFFERENCE_CHUNK) << n;
    }
}

// On relinked code the approximate matcher's delta rebuilds the new file
// exactly, over several difference chunks, and is the same every time.
TEST_F(DifferenceApply, ApproximateMatchesOnShiftedCode) {
    Bytes old = code(1200000, 7, 0);
    Bytes fresh = code(1200000, 7, 64);
    fresh.insert(fresh.begin() + 600000, 3000, 0x90);  // new code in the middle
    auto d = pkg::diffApproximate(old, fresh);
    ASSERT_TRUE(d.has_value());
    Bytes out;
    ASSERT_EQ(runEncoded(*d, old, &out), DELTA_OK);
    EXPECT_TRUE(out == fresh);
    // Its exact stretches make a plain delta of their own.
    pkg::DeltaStreams exact = pkg::exactCopies(d->streams, old, fresh);
    ASSERT_EQ(run(exact, old, nullptr, &out), DELTA_OK);
    EXPECT_TRUE(out == fresh);
    EXPECT_LT(exact.data.size(), fresh.size() / 2);
    auto again = pkg::diffApproximate(old, fresh);
    EXPECT_TRUE(again->streams.commands == d->streams.commands && again->difference == d->difference);

    // A source farther than a distance field reaches is still copied (in
    // hops), not inserted.
    Bytes far = testsupport::noise(3000000, 9);
    Bytes moved(far.begin() + 2700000, far.begin() + 2800000);
    moved.insert(moved.end(), far.begin(), far.begin() + 100000);
    auto hops = pkg::diffApproximate(far, moved);
    ASSERT_TRUE(hops.has_value());
    EXPECT_LT(hops->streams.data.size(), 100u);
    ASSERT_EQ(runEncoded(*hops, far, &out), DELTA_OK);
    EXPECT_TRUE(out == moved);
    ASSERT_EQ(run(pkg::exactCopies(hops->streams, far, moved), far, nullptr, &out), DELTA_OK);
    EXPECT_TRUE(out == moved);

    // Edge cases of the scan: no old file, identical files, nothing alike.
    for (const auto& [a, b] : std::vector<std::pair<Bytes, Bytes>>{
             {{}, code(5000, 1, 0)}, {code(5000, 1, 0), code(5000, 1, 0)}, {code(5000, 1, 0), {}},
             {testsupport::noise(4000, 1), testsupport::noise(4000, 2)}}) {
        auto e = pkg::diffApproximate(a, b);
        ASSERT_TRUE(e.has_value());
        ASSERT_EQ(runEncoded(*e, a.empty() ? Bytes{0} : a, &out), DELTA_OK);
        EXPECT_TRUE(out == b);
    }
}

namespace {

// An update of a program (relinked: difference copies pay), a settings file
// whose user part is kept (a region inside the copies) and a text.
class DifferencePackage : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string v10 = temp.path("1.0"), v11 = temp.path("1.1"), v20 = temp.path("2.0");
    std::string installer = temp.path("out/setup.exe");

    static void writeSet(const std::string& root, const pkg::FileSet& files) {
        for (const auto& [rel, bytes] : files) {
            fs::create_directories(root);
            pkg::writeFile(root + "/" + rel, bytes);
        }
    }

    static Bytes withUser(Bytes program, const std::string& user) {
        std::string block = "<user>" + user + std::string(24 - user.size(), ' ');
        std::copy(block.begin(), block.end(), program.begin() + 100000);
        return program;
    }

    void SetUp() override {
        Bytes text10(20000, 'a'), text20(20000, 'a');
        text20[5000] = 'b';
        writeSet(v10, {{"app.exe", code(1100000, 5, 0)}, {"lib.dll", withUser(code(200000, 6, 0), "Anyone")},
                       {"notes.txt", text10}});
        writeSet(v11, {{"app.exe", code(1100000, 5, 16)}, {"lib.dll", withUser(code(200000, 6, 8), "Anyone")},
                       {"notes.txt", text10}});
        writeSet(v20, {{"app.exe", code(1100000, 5, 48)}, {"lib.dll", withUser(code(200000, 6, 40), "Anyone")},
                       {"notes.txt", text20}});
        fs::create_directories(temp.path("out"));
    }

    pkg::BuiltUpdate build(bool difference = true, uint32_t volumeSize = 0) {
        pkg::UpdateOptions options;
        pkg::Region user;
        user.pattern = {'<', 'u', 's', 'e', 'r', '>'};
        user.length = 30;
        user.restore = true;
        options.rules["lib.dll"].regions = {user};
        options.volumeSize = volumeSize;
        options.differenceCopies = difference;
        pkg::BuiltUpdate u = pkg::buildUpdate({v10, v11}, v20, testsupport::fakeStub(), options);
        pkg::writeUpdate(u, installer);
        return u;
    }

    const pkg::TableEntry& entry(const pkg::BuiltUpdate& u, const std::string& path) {
        for (const auto& e : u.entries)
            if (e.relativePath == path) return e;
        throw std::runtime_error("no entry " + path);
    }

    // Where the difference stream of `path`'s first version starts in the
    // installer file (no volumes).
    size_t differenceAt(const pkg::BuiltUpdate& u, const Bytes& file, const std::string& path) {
        size_t at = file.size() - u.installerDataSize + entry(u, path).versions[0].dataOffset;
        for (int stream = 0; stream < 2; stream++) {
            uint8_t header = file[at];
            bool wide = header & STREAM_SIZE_32;
            uint32_t size = file[at + 1] | (file[at + 2] << 8) |
                            (wide ? (uint32_t(file[at + 3]) << 16) | (uint32_t(file[at + 4]) << 24) : 0);
            at += 1 + (wide ? 4 : 2);
            if (size && (header & STREAM_COMPRESSED)) {
                bool packedWide = header & STREAM_PACKED_32;
                uint32_t packed = file[at] | (file[at + 1] << 8) |
                                  (packedWide ? (uint32_t(file[at + 2]) << 16) | (uint32_t(file[at + 3]) << 24) : 0);
                at += (packedWide ? 4 : 2) + packed;
            } else {
                at += size;
            }
        }
        return at;
    }

    // Runs the installer's verification and installation on the folder
    // itself; the run's result code.
    int install(const std::string& folder) {
        updpack::EngineSession session(installer);
        session.setDestination(folder);
        if (int verified = verifyInstallation()) return verified;
        if (beginInstallation() != ERR_NONE) return state.resultCode;
        while (installNextFile(nullptr) == STEP_OK) {
        }
        finishInstallation();
        return finalResultCode();
    }

    std::string copyOf(const std::string& version, const std::string& name) {
        std::string to = temp.path(name);
        fs::copy(version, to, fs::copy_options::recursive);
        return to;
    }
};

std::map<std::string, Bytes> contents(const std::string& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& f : fs::directory_iterator(folder)) files[f.path().filename().string()] = pkg::readFile(f.path());
    return files;
}

}  // namespace

// Programs take difference copies, the text stays plain; every old version
// updates exactly, also with the data spread over volumes, and with the
// option off nothing takes the new form.
TEST_F(DifferencePackage, EntriesPickTheirFormAndEveryVersionUpdates) {
    pkg::BuiltUpdate u = build();
    EXPECT_TRUE(entry(u, "app.exe").differenceCopies);
    EXPECT_TRUE(entry(u, "lib.dll").differenceCopies);
    EXPECT_FALSE(entry(u, "notes.txt").differenceCopies);
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);
    // inspect names each entry's form and finds where every delta ends.
    testing::internal::CaptureStdout();
    updpack::inspect(installer, updpack::INSPECT_FILES | updpack::INSPECT_DATA);
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("\"app.exe\"\n    delta with difference copies,"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\"notes.txt\"\n    delta,"), std::string::npos) << shown;
    EXPECT_NE(shown.find("the entries use " + updpack::grouped(u.dataSize) + "\n"), std::string::npos) << shown;

    pkg::BuiltUpdate split = build(true, 70000);
    EXPECT_GE(split.volumes.size(), 2u);
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);

    pkg::BuiltUpdate plain = build(false);
    for (const auto& e : plain.entries) EXPECT_FALSE(e.differenceCopies) << e.relativePath;
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);
    EXPECT_LT(u.dataSize * 2, plain.dataSize);
}

// A difference stream that is short, long or damaged stops the update with
// ERR_READ and leaves the installed files as they were.
TEST_F(DifferencePackage, HostileDifferenceStreamsChangeNothing) {
    pkg::BuiltUpdate u = build();
    const Bytes sound = pkg::readFile(installer);
    size_t at = differenceAt(u, sound, "app.exe");
    uint32_t declared = sound[at] | (sound[at + 1] << 8) | (sound[at + 2] << 16) | (uint32_t(sound[at + 3]) << 24);
    ASSERT_GT(declared, DELTA_DIFFERENCE_CHUNK);  // two chunks at least
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    auto setDeclared = [&](Bytes& f, uint32_t v) {
        for (int k = 0; k < 4; k++) f[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    const Case cases[] = {
        {"short", [&](Bytes& f) { setDeclared(f, declared - 1); }},
        {"long", [&](Bytes& f) { setDeclared(f, declared + 1); }},
        {"larger than the file", [&](Bytes& f) { setDeclared(f, 0xFFFFFFF0u); }},
        {"first chunk's size", [&](Bytes& f) { f[at + 5] ^= 0x01; }},
        {"first chunk's body", [&](Bytes& f) { for (int k = 12; k < 40; k++) f[at + k] ^= 0xA5; }},
        {"second chunk's body", [&](Bytes& f) {
             uint8_t h = f[at + 4];
             size_t first = 1 + 4 + ((h & STREAM_PACKED_32) ? 4 : 2) +
                            (f[at + 9] | (f[at + 10] << 8) |
                             ((h & STREAM_PACKED_32) ? (uint32_t(f[at + 11]) << 16) | (uint32_t(f[at + 12]) << 24) : 0));
             ASSERT_TRUE(h & STREAM_COMPRESSED);
             for (int k = 12; k < 40; k++) f[at + 4 + first + k] ^= 0x5A;
         }},
    };
    for (const Case& c : cases) {
        Bytes file = sound;
        c.damage(file);
        pkg::writeFile(installer, file);
        std::string installed = copyOf(v10, std::string("installed-") + c.what);
        auto before = contents(installed);
        EXPECT_EQ(install(installed), ERR_READ) << c.what;
        EXPECT_EQ(contents(installed), before) << c.what;  // no temporary file left either
    }
}
