// An installation killed part-way (the engine runner ends its own process
// at a chosen checkpoint: a write, a move or a delete) never leaves a file
// half-made. All or nothing: killed before the replacement phase every file
// is old, killed during it each file is old or new, and a second run
// completes the update and leaves no temporary file. File by file: each
// file is old or new, and a second run completes the update.
// ./build.sh torture runs the same check over many more points.
#include <gtest/gtest.h>

#include "kill_support.h"

TEST(Killed, AllOrNothingBeforeAndDuringReplacement) {
    killtest::Product product(true);
    ASSERT_EQ(product.probe(), "");
    ASSERT_GT(product.commitFrom, 8u) << "the building phase passes many checkpoints";
    std::vector<unsigned> points;
    for (unsigned i = 0; i < 6; i++) points.push_back(1 + i * (product.commitFrom - 2) / 5);
    for (unsigned k = product.commitFrom; k <= product.checkpoints; k++) points.push_back(k);
    for (unsigned k : points) EXPECT_EQ(product.killAt(k), "");
}

TEST(Killed, FileByFileLeavesEachFileOldOrNew) {
    killtest::Product product(false);
    ASSERT_EQ(product.probe(), "");
    EXPECT_EQ(product.commitFrom, 0u) << "no replacement phase of its own";
    for (unsigned i = 0; i < 6; i++) EXPECT_EQ(product.killAt(1 + i * (product.checkpoints - 1) / 5), "");
}
