// Installation from a package spread over volume files: streams that cross
// volume ends are read whole, and a missing volume either fails the run at
// once (started from a fixed drive) or is asked for (a relaunched copy),
// with the user's answers OK, Cancel-No and Cancel-Yes.
#include "install_support.h"

using namespace installtest;

namespace {

class Volumes : public EngineTest {
protected:
    pkg::FileSet before, after;
    void SetUp() override {
        EngineTest::SetUp();
        // Incompressible files, so the data area is about their size.
        before = {{"a.bin", noise(70000, 1)}, {"b.bin", noise(50000, 2)}, {"gone.txt", noise(100, 5)}};
        after = {{"a.bin", noise(70000, 11)},
                 {"b.bin", noise(50000, 2)},
                 {"c\\new.bin", noise(90000, 3)}};
        after["b.bin"][100] ^= 1;
        pkg::UpdateOptions options;
        options.volumeSize = 100000;
        pkg::BuiltUpdate u = build({before}, after, options);
        ASSERT_EQ(u.volumes.size(), 2u) << "three volumes in all";
        place(before);
    }
    std::string volume(int k) { return pkg::volumePath(packageDir / "setup.exe", k); }
    void expectDone() {
        for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel;
        EXPECT_FALSE(exists("gone.txt"));
        EXPECT_EQ(leftovers(), 0);
    }
};

}  // namespace

TEST_F(Volumes, StreamsCrossVolumeEnds) {
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    expectDone();
    EXPECT_EQ(state.volumeNumber, 2);
    // A second run in the same process starts again at volume 0.
    place(before);
    ASSERT_EQ(verify(), ERR_NONE);
    ASSERT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    expectDone();
}

TEST_F(Volumes, MissingVolumeFailsWithoutAsking) {
    ASSERT_TRUE(MoveFileA(volume(2).c_str(), (volume(2) + ".away").c_str()));
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_READ);
    EXPECT_EQ(std::string(state.messageSubject), volume(2));
    EXPECT_TRUE(read("a.bin") == after["a.bin"]) << "finished files stay finished";
    EXPECT_FALSE(exists("c\\new.bin"));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(Volumes, RelaunchedCopyAsksForTheDisk) {
    std::string away = volume(2) + ".away";
    ASSERT_TRUE(MoveFileA(volume(2).c_str(), away.c_str()));
    state.isRelaunchedCopy = 1;
    ASSERT_EQ(verify(), ERR_NONE);
    {
        BoxAnswerer boxes({{"Insert disk 3", IDOK, nullptr},
                           {"Insert disk 3", IDCANCEL, nullptr},
                           {"Quit the update?", IDNO, nullptr},
                           {"Insert disk 3", IDOK, [&] { MoveFileA(away.c_str(), volume(2).c_str()); }}});
        EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
        EXPECT_EQ(boxes.answered(), 4u);
    }
    expectDone();
}

TEST_F(Volumes, RelaunchedCopyGivesUp) {
    std::string away = volume(2) + ".away";
    ASSERT_TRUE(MoveFileA(volume(2).c_str(), away.c_str()));
    state.isRelaunchedCopy = 1;
    ASSERT_EQ(verify(), ERR_NONE);
    {
        BoxAnswerer boxes({{"Insert disk 3", IDCANCEL, nullptr},
                           {"Quit the update?", IDYES, nullptr},
                           {"Update stopped", IDOK, nullptr}});
        EXPECT_EQ(runAll(), ERR_CANCELLED);
        EXPECT_EQ(boxes.answered(), 3u);
    }
    EXPECT_EQ(state.pageResult, PAGE_RESULT_CANCEL);
    EXPECT_FALSE(exists("c\\new.bin"));
    EXPECT_EQ(leftovers(), 0);
}

// Deleting reads no data: with only deletions left, no volume is needed.
TEST_F(Volumes, DeletionsNeedNoVolume) {
    place(after);
    ASSERT_TRUE(DeleteFileA(volume(1).c_str()) && DeleteFileA(volume(2).c_str()));
    ASSERT_EQ(verify(), ERR_NONE);
    EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    EXPECT_EQ(outcomeOf("gone.txt"), unsigned(OUT_DELETED));
    expectDone();
}
