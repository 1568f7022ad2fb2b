// The administrators' switches beside /S and /DEL: what each one sets, that
// the described switches keep their meaning next to them, that a value that
// would be cut is refused, and that a quiet run never asks for a volume.
#include <gtest/gtest.h>

#include <string>

#include "package/volume.h"
#include "run/cmdline.h"
#include "base/state.h"
#include "support.h"

namespace {

class Switches : public testsupport::StateTest {};

TEST_F(Switches, QuietDestinationLogAndListBesideTheDescribedOnes) {
    ASSERT_TRUE(parseCommandLine("/S\"E:\\pkg.exe\" /DEL /q /D=\"C:\\Program Files\\Sample\" -l=C:\\logs\\run.log /?"));
    EXPECT_STREQ(state.sourcePath, "E:\\pkg.exe");
    EXPECT_EQ(state.isRelaunchedCopy, 1u);
    EXPECT_EQ(state.quiet, 1u);
    EXPECT_EQ(state.showSwitches, 1u);
    ASSERT_NE(state.destinationSwitch, nullptr);
    EXPECT_STREQ(state.destinationSwitch, "C:\\Program Files\\Sample");
    ASSERT_NE(state.logPath, nullptr);
    EXPECT_STREQ(state.logPath, "C:\\logs\\run.log");
}

// "/D" keeps its described reading: /DEL and its look-alikes mark the copy,
// anything else after the D is ignored; only "=" makes it the destination.
// A value may hold '-' and '/' without ending the switch.
TEST_F(Switches, DestinationOnlyWithItsEqualsSign) {
    ASSERT_TRUE(parseCommandLine("/D C:\\x /Dx /L C:\\y"));
    EXPECT_EQ(state.destinationSwitch, nullptr);
    EXPECT_EQ(state.logPath, nullptr);
    EXPECT_EQ(state.isRelaunchedCopy, 0u);
    EXPECT_EQ(state.quiet, 0u);
    ASSERT_TRUE(parseCommandLine("/D=C:\\a-b/c /DELAY /Q"));
    EXPECT_STREQ(state.destinationSwitch, "C:\\a-b/c");
    EXPECT_EQ(state.isRelaunchedCopy, 1u);
    EXPECT_EQ(state.quiet, 1u);
}

// A destination or log cut to 259 characters would be another place: the
// command line is refused, while /S keeps its described cut.
TEST_F(Switches, OverlongValueIsRefused) {
    std::string longPath = "C:\\" + std::string(290, 'f');
    EXPECT_FALSE(parseCommandLine(("/D=\"" + longPath + "\"").c_str()));
    EXPECT_FALSE(parseCommandLine(("/L=" + longPath).c_str()));
    EXPECT_TRUE(parseCommandLine(("/S " + longPath + " /L=\"" + std::string(200, 'g') + "\"").c_str()));
    EXPECT_EQ(std::string(state.sourcePath), longPath.substr(0, 259));
    EXPECT_EQ(std::string(state.logPath), std::string(200, 'g'));
}

// The single-instance check reads the switches before any text buffer
// exists; it must find /Q wherever the parser would, and nowhere else.
TEST_F(Switches, QuietSwitchFoundWithoutTouchingState) {
    EXPECT_TRUE(quietSwitchGiven("/S \"E:\\a b\\pkg.exe\" /D=\"C:\\q\" -q"));
    EXPECT_FALSE(quietSwitchGiven("/S \"E:\\Q\" /D=/Q /L=\"/Q\""));
    EXPECT_FALSE(quietSwitchGiven("plain /Q"));
    EXPECT_FALSE(quietSwitchGiven(nullptr));
    EXPECT_EQ(state.sourcePath[0], 0);
    EXPECT_EQ(state.destinationSwitch, nullptr);
    EXPECT_EQ(state.quiet, 0u);
}

// Only a copy started from a removable disk asks for a volume, and never in
// a quiet run, which has nobody to ask.
TEST_F(Switches, QuietCopyNeverAsksForAVolume) {
    EXPECT_FALSE(asksForVolumes());
    state.isRelaunchedCopy = 1;
    EXPECT_TRUE(asksForVolumes());
    state.quiet = 1;
    EXPECT_FALSE(asksForVolumes());
}

}  // namespace
