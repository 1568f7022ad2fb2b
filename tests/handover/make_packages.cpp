// Native helper of the Windows tests: writes update packages whose streams
// are compressed (the Windows test programs have no compressor, so their
// own packages hold stored streams only), together with the old and new
// files, for win_tests' Compressed tests.
// usage: make_packages DIR STUB
//   DIR/old/..., DIR/new/...   the files before and after
//   DIR/setup.exe, .D01, ...   the installer and its volumes
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "pkg/compress.h"
#include "pkg/differ.h"
#include "pkg/stub.h"

namespace {

pkg::Bytes text(size_t n, uint32_t seed) {
    static const char* words[] = {"alpha ", "beta ", "gamma\r\n", "delta ", "update ", "file ", "the ",
                                  "installer ", "volume ", "stream "};
    pkg::Bytes b;
    while (b.size() < n) {
        seed = seed * 1664525 + 1013904223;
        const char* w = words[(seed >> 20) % 10];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

pkg::Bytes code(size_t n, uint32_t seed, uint32_t shift) {
    pkg::Bytes b;
    uint32_t s = seed;
    while (b.size() < n) {
        s = s * 1664525 + 1013904223;
        uint32_t slot = (s >> 8) & 0x3FF;
        uint32_t address = 0x401000 + slot * 4 + (slot > 0x200 ? shift : 0);
        uint8_t rec[8] = {0x8B, 0x45, static_cast<uint8_t>(s >> 30), 0xE8};
        std::memcpy(rec + 4, &address, 4);
        b.insert(b.end(), rec, rec + 8);
    }
    b.resize(n);
    return b;
}

void writeSet(const std::string& dir, const pkg::FileSet& set) {
    for (const auto& [rel, bytes] : set) {
        std::string path = rel;
        for (char& c : path)
            if (c == '\\') c = '/';
        std::filesystem::create_directories(std::filesystem::path(dir + "/" + path).parent_path());
        pkg::writeFile(dir + "/" + path, bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_packages DIR STUB\n");
        return 2;
    }
    std::string dir = argv[1];
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    pkg::FileSet before = {{"doc\\manual.txt", text(400000, 1)},
                           {"bin\\app.exe", code(600000, 2, 0)},
                           {"rewritten.txt", text(200000, 3)}};
    pkg::FileSet after = before;
    after["doc\\manual.txt"].insert(after["doc\\manual.txt"].begin() + 1234, 'X');
    after["bin\\app.exe"] = code(600000, 2, 24);
    after["rewritten.txt"] = text(220000, 33);
    after["added\\deep\\notes.txt"] = text(300000, 4);
    // Bytes that do not compress: the data spans several volumes even now
    // that the program's delta, with difference copies, is small.
    pkg::Bytes noise(150000);
    uint32_t s = 99;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((s = s * 1103515245 + 12345) >> 16);
    after["bin\\app.dat"] = noise;
    pkg::UpdateOptions options;
    options.volumeSize = 72000;  // the data spans several volumes
    pkg::BuiltUpdate u = pkg::buildUpdateFromSets({before}, after, pkg::loadStub(argv[2]), options);
    writeSet(dir + "/old", before);
    writeSet(dir + "/new", after);
    pkg::writeUpdate(u, dir + "/setup.exe");
    std::printf("make_packages: %zu entries, data %u bytes in %zu volumes\n", u.entries.size(), u.dataSize,
                u.volumes.size() + 1);
    return 0;
}
