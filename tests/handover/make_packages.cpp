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

#include "common/common.h"
#include "pkg/compress.h"
#include "pkg/update.h"
#include "pkg/stub.h"

namespace {

pkg::Bytes text(size_t n, uint32_t seed) { return testcommon::words(n, seed, testcommon::kWindowsWords, 10); }

// Few slots and a two-bit register byte: code that compresses well.
pkg::Bytes code(size_t n, uint32_t seed, uint32_t shift) { return testcommon::codeLike(n, seed, shift, 0x400, 2); }

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
