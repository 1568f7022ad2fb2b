// The newer-version question: when the old copy comes from the alternate
// folder and the installed target carries a higher file version than the
// update, the user is asked; No leaves the target untouched and unlisted,
// Yes (or a target that is not newer) rebuilds it from the alternate copy.
#include "install_support.h"

using namespace installtest;

namespace {

// A system DLL of the prefix: a file that carries version information.
Bytes versionedFile() {
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    return pkg::readFile(std::string(path) + "\\comctl32.dll");
}

}  // namespace

class Newer : public EngineTest {
protected:
    ScratchFolder alt;
    Bytes oldCopy = codeLike(20000, 1), next = codeLike(20000, 1, 8);
    const AlternateFolderDialog platformDialog = alternateFolderDialog;

    void prepare(uint32_t ourVersionMs) {
        pkg::UpdateOptions options;
        pkg::FileRule rule;
        rule.onUnknownVersion = UNK_ASK_FOLDER;
        rule.altSubfolder = "sub";
        rule.version = pkg::FileVersion{ourVersionMs, 0};
        options.rules["lib.dll"] = rule;
        build({{{"lib.dll", oldCopy}}}, {{"lib.dll", next}}, options);
        place({{"lib.dll", versionedFile()}});
        writeBytes(alt / "sub\\lib.dll", oldCopy);
        altFolder = alt.path();
        alternateFolderDialog = chooseAltFolder;
        ASSERT_EQ(verify(), ERR_NONE);
    }
    void TearDown() override {
        alternateFolderDialog = platformDialog;
        EngineTest::TearDown();
    }
};

TEST_F(Newer, DeclinedLeavesTheTargetAlone) {
    prepare(0x00010000);
    Bytes installed = read("lib.dll");
    {
        BoxAnswerer boxes({{"A newer ", IDNO, nullptr}});
        EXPECT_EQ(runAll(), ERR_NONE);
        EXPECT_EQ(boxes.answered(), 1u);
    }
    EXPECT_TRUE(read("lib.dll") == installed);
    EXPECT_TRUE(outcomes.empty());
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(Newer, AcceptedRebuildsFromTheAlternateCopy) {
    prepare(0x00010000);
    {
        BoxAnswerer boxes({{"A newer ", IDYES, nullptr}});
        EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
        EXPECT_EQ(boxes.answered(), 1u);
    }
    EXPECT_TRUE(read("lib.dll") == next);
    EXPECT_EQ(outcomeOf("lib.dll"), unsigned(OUT_REPLACED));
}

TEST_F(Newer, NoQuestionWhenTheUpdateIsNewer) {
    prepare(0x7FFF0000);
    BoxAnswerer boxes({});
    EXPECT_EQ(runAll(), ERR_NONE) << state.messageSubject;
    EXPECT_TRUE(boxes.seen.empty());
    EXPECT_TRUE(read("lib.dll") == next);
}
