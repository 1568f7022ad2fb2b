// Texts reach the user only through these lookups and expansions: they must
// find the right text, never read past a table, and never let a package text
// drive a formatter with arguments it does not have.
#include <cstring>

#include "package/loader.h"
#include "package/strings.h"
#include "package/templates.h"
#include "run/cmdline.h"
#include "support.h"

using namespace pkg;

namespace {

class Texts : public testsupport::StateTest {
protected:
    void setTable(int t, const Bytes& bytes) {
        freeBuffer(state.stringTables[t]);
        uint8_t* block = static_cast<uint8_t*>(allocZeroed(bytes.size() + 1));
        std::memcpy(block, bytes.data(), bytes.size());
        state.stringTables[t] = reinterpret_cast<StringTable*>(block);
        state.stringTableSizes[t] = static_cast<uint32_t>(bytes.size());
    }
};

TEST_F(Texts, LookupByTableAndIndex) {
    EXPECT_STREQ(getString(6, 0), "") << "no tables loaded";
    setTable(6, encodeStringTable({"zero", "", "two"}));
    EXPECT_STREQ(getString(6, 0), "zero");
    EXPECT_STREQ(getString(6, 1), "") << "two NULs in a row make an empty text";
    EXPECT_STREQ(getString(6, 2), "two");
    EXPECT_STREQ(getString(6, 3), "");
    EXPECT_STREQ(getString(8, 0), "");
    EXPECT_STREQ(getString(6, 0x10002), "two") << "the index counts as a 16-bit value";
}

TEST_F(Texts, TableThatClaimsMoreTextsThanItHoldsYieldsEmptyTexts) {
    Bytes b = {200, 0, 'a', 0, 'b'};  // count 200, the last text unterminated
    setTable(0, b);
    EXPECT_STREQ(getString(0, 0), "a");
    EXPECT_STREQ(getString(0, 1), "b") << "ends at the loader's spare NUL";
    EXPECT_STREQ(getString(0, 2), "");
    EXPECT_STREQ(getString(0, 199), "");
}

TEST_F(Texts, FormatMessageSubstitutesOnlyTheSubject) {
    setTable(6, encodeStringTable({"cap", "Cannot open %s now.", "100%% and %d", "%s%s%n %x %%", "50%"}));
    setMessageSubject("C:\\a.txt");
    char out[1024];
    formatMessage(out, sizeof out, 1);
    EXPECT_STREQ(out, "Cannot open C:\\a.txt now.");
    formatMessage(out, sizeof out, 2);
    EXPECT_STREQ(out, "100%% and %d") << "a text without %s is copied unchanged";
    formatMessage(out, sizeof out, 3);
    EXPECT_STREQ(out, "C:\\a.txtC:\\a.txt%n %x %");
    formatMessage(out, sizeof out, 4);
    EXPECT_STREQ(out, "50%");
    char small[8];
    EXPECT_EQ(formatMessage(small, sizeof small, 1), 7u);
    EXPECT_STREQ(small, "Cannot ");
}

TEST_F(Texts, DiskPromptTakesItsOneNumber) {
    char out[200];
    expandText(out, sizeof out, "Insert disk %d (%s) 100%%", "x", 3, true);
    EXPECT_STREQ(out, "Insert disk 3 (x) 100%");
    expandText(out, sizeof out, "%d", nullptr, -12, true);
    EXPECT_STREQ(out, "-12");
}

TEST_F(Texts, SubjectKeeps259Characters) {
    std::string longPath(400, 'p');
    setMessageSubject(longPath.c_str());
    EXPECT_EQ(std::strlen(state.messageSubject), 259u);
}

TEST_F(Texts, TemplateCopiesStayInsideTheBlob) {
    auto setBlob = [](const Bytes& blob) {
        freeBuffer(state.templateBlob);
        state.templateBlob = static_cast<uint8_t*>(allocZeroed(static_cast<uint32_t>(blob.size())));
        std::memcpy(state.templateBlob, blob.data(), blob.size());
        state.templateBlobSize = static_cast<uint32_t>(blob.size());
    };
    // Index of three offsets (12 bytes), two templates; entry 2 points
    // outside the blob.
    Bytes first = testsupport::dialogTemplate("First"), last = testsupport::dialogTemplate("Last", 1);
    Bytes blob;
    for (uint32_t offset : {12u, 12u + uint32_t(first.size()), 9999u}) put32(blob, offset);
    blob.insert(blob.end(), first.begin(), first.end());
    blob.insert(blob.end(), last.begin(), last.end());
    setBlob(blob);

    uint8_t* t = static_cast<uint8_t*>(copyTemplate(1));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Bytes(t, t + last.size()), last) << "the last template copies exactly the tail";
    for (uint32_t i = static_cast<uint32_t>(last.size()); i < TEMPLATE_COPY_SIZE; i++) ASSERT_EQ(t[i], 0) << i;
    releaseTemplate(t);
    t = static_cast<uint8_t*>(copyTemplate(0));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::memcmp(t + first.size(), last.data(), last.size()), 0) << "the rest of the blob comes along";
    releaseTemplate(t);
    EXPECT_EQ(copyTemplate(2), nullptr) << "offset outside the blob";
    EXPECT_EQ(copyTemplate(3), nullptr) << "beyond the index";
    EXPECT_EQ(copyTemplate(400), nullptr);

    // A template whose last item runs past the end of the blob counts as
    // missing: the platform would read it beyond the copied bytes.
    blob.resize(blob.size() - 3);
    setBlob(blob);
    EXPECT_EQ(copyTemplate(1), nullptr);
    t = static_cast<uint8_t*>(copyTemplate(0));
    EXPECT_NE(t, nullptr) << "the one before still lies within its copy";
    releaseTemplate(t);

    // A remainder beyond 16 KiB is cut to the block; the template itself
    // still lies within it.
    Bytes big;
    put32(big, 4);
    big.insert(big.end(), first.begin(), first.end());
    big.resize(4 + 20000, 0x77);
    setBlob(big);
    uint32_t offset, length;
    ASSERT_TRUE(templateSpan(0, &offset, &length));
    EXPECT_EQ(length, TEMPLATE_COPY_SIZE);
}

class CommandLine : public testsupport::StateTest {};

TEST_F(CommandLine, SwitchesInAnyCaseWithQuotedPaths) {
    parseCommandLine("  -s   \"C:\\My Updates\\pkg.exe\" -del");
    EXPECT_STREQ(state.sourcePath, "C:\\My Updates\\pkg.exe");
    EXPECT_EQ(state.isRelaunchedCopy, 1u);
}

TEST_F(CommandLine, RelaunchFormAndLookalikes) {
    parseCommandLine(" /S\"C:\\Updates\\pkg.exe\" /DEL");
    EXPECT_STREQ(state.sourcePath, "C:\\Updates\\pkg.exe");
    EXPECT_EQ(state.isRelaunchedCopy, 1u);

    state.isRelaunchedCopy = 0;
    parseCommandLine("/DELAY");
    EXPECT_EQ(state.isRelaunchedCopy, 1u) << "only three letters are compared";
    state.isRelaunchedCopy = 0;
    parseCommandLine("/DX /D /De");
    EXPECT_EQ(state.isRelaunchedCopy, 0u);
    parseCommandLine("plain /DEL");
    EXPECT_EQ(state.isRelaunchedCopy, 0u) << "a non-switch ends the parsing";
    parseCommandLine("/");
    parseCommandLine(nullptr);
    parseCommandLine("");
}

TEST_F(CommandLine, LongValueKeepsItsFirst259Characters) {
    std::string value(300, 'v');
    parseCommandLine(("/S " + value + " /DEL").c_str());
    EXPECT_EQ(std::string(state.sourcePath), value.substr(0, 259));
    EXPECT_EQ(state.isRelaunchedCopy, 1u) << "the rest of the argument was consumed";
    char buf[260];
    const char* rest = readArgument("\"unterminated", buf, sizeof buf);
    EXPECT_STREQ(buf, "unterminated");
    EXPECT_EQ(*rest, 0);
}

// The entry point finds the switches behind the program's own name, as the
// relaunch writes it ("COPY" /S"PACKAGE" /DEL) and as shells and users do.
TEST(ProgramArguments, SkipTheProgramNameAndTheBlanksAfterIt) {
    EXPECT_STREQ(programArguments("\"C:\\Temp\\_upd0.exe\" /S\"R:\\setup.exe\" /DEL"),
                 "/S\"R:\\setup.exe\" /DEL");
    EXPECT_STREQ(programArguments("\"C:\\My Files\\setup.exe\"/S x"), "/S x")
        << "a quoted name ends at its closing quote";
    EXPECT_STREQ(programArguments("setup.exe \t /s pkg"), "/s pkg");
    EXPECT_STREQ(programArguments("C:\\a\"b c\"\\setup.exe /DEL"), "c\"\\setup.exe /DEL")
        << "a name that does not begin with a quote ends at the first blank";
    EXPECT_STREQ(programArguments("C:\\Programme\\\xC4nderung.exe /DEL"), "/DEL")
        << "bytes above 127 belong to the name";
    EXPECT_STREQ(programArguments("setup.exe"), "");
    EXPECT_STREQ(programArguments("\"unterminated name"), "");
    EXPECT_STREQ(programArguments("   /S pkg"), "/S pkg") << "an empty name";
    EXPECT_STREQ(programArguments(""), "");
}

}  // namespace
