// Packages whose streams are compressed, built natively (make_packages) and
// spread over volumes: the engine decodes command, data, difference and
// whole-file streams that cross volume ends and rebuilds every file exactly.
#include "install_support.h"

#include <fstream>

using namespace installtest;

namespace {

std::string windowsPath(const std::string& unixPath) {
    std::string p = "Z:";
    for (char c : unixPath) p += c == '/' ? '\\' : c;
    return p;
}

pkg::FileSet readTree(const std::string& dir) {
    pkg::FileSet set;
    testcommon::forEachFile(dir, [&](const std::string& folder, const std::string& name) {
        std::string rel = folder.size() > dir.size() ? folder.substr(dir.size() + 1) + "\\" + name : name;
        set[rel] = pkg::readFile(folder + "\\" + name);
    });
    return set;
}

}  // namespace

class Compressed : public EngineTest {};

TEST_F(Compressed, NativePackagesAcrossVolumes) {
    std::string dir = windowsPath(UPD_HANDOVER_DIR);
    if (GetFileAttributesA((dir + "\\setup.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "run through CTest: make_packages writes " << dir;
    pkg::FileSet before = readTree(dir + "\\old"), after = readTree(dir + "\\new");
    ASSERT_FALSE(before.empty());
    installer = dir + "\\setup.exe";
    load();
    EXPECT_GT(state.volumeDataSize, 0u);
    // The relinked program takes difference copies (the native differ has
    // a suffix sorter).
    int withDifference = 0;
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e))
        if (e->flags & FE_DIFFERENCE_COPIES) withDifference++;
    EXPECT_GE(withDifference, 1);
    for (int round = 0; round < 2; round++) {  // a second run starts at volume 0 again
        place(before);
        DeleteFileA((install / "added\\deep\\notes.txt").c_str());
        ASSERT_EQ(verify(), ERR_NONE);
        ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
        for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel;
        EXPECT_GE(state.volumeNumber, 2);
        EXPECT_EQ(leftovers(), 0);
    }
}
