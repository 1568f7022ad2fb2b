// An installation killed at any moment never leaves a file half-made, and a
// later run completes the update.
//
// The kills land at chosen points, whatever the machine's speed: the engine
// runner counts the engine's file operations (opens, writes, moves,
// deletions, attribute and time changes) and ends itself abruptly at the
// K-th, halfway through it when it is a write (kill_support.h). One run
// counts them; then runs are killed at chosen ones of them, each checked
// for the whole installation. ./build.sh torture runs the all-or-nothing
// check over many more points.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "kill_support.h"

namespace {

// The points from..to, every one when there are at most `most`, else
// `most` of them spread evenly, both ends included.
std::vector<unsigned> spread(unsigned from, unsigned to, unsigned most) {
    std::vector<unsigned> points;
    if (to < from) return points;
    unsigned n = to - from + 1;
    if (n <= most) {
        for (unsigned k = from; k <= to; k++) points.push_back(k);
        return points;
    }
    for (unsigned i = 0; i < most; i++) points.push_back(from + i * (n - 1) / (most - 1));
    return points;
}

}  // namespace

// File by file: each target is byte-exactly old or new after the kill (a
// created file absent or new, a deleted one old or absent), and a second run
// completes the update.
TEST(Killed, FileByFileEachTargetOldOrNew) {
    killtest::Product product(false);
    ASSERT_EQ(product.probe(), "");
    EXPECT_EQ(product.commitFrom, 0u) << "no replacement phase of its own";
    ASSERT_GT(product.checkpoints, 20u) << "enough file operations to spread the kills over";
    std::vector<unsigned> points = spread(1, product.checkpoints, 150);
    for (unsigned k : points) {
        std::string wrong = product.killAt(k);
        EXPECT_EQ(wrong, "");
        if (!wrong.empty()) break;
    }
    std::printf("[   INFO   ] %zu kills among %u file operations\n", points.size(), product.checkpoints);
}

// All or nothing: killed before the replacement phase (the first file
// operation past the last entry) every file is old, killed during it each
// file is old or new, and the second run completes the update and leaves
// no temporary file: it undoes what the killed run had journalled. The
// product holds a file named as the engine would first name a temporary
// file of its own; it is never touched.
TEST(Killed, AllOrNothingOldBeforeReplacingOldOrNewDuringNothingLeft) {
    killtest::Product product(true);
    ASSERT_EQ(product.probe(), "");
    ASSERT_GT(product.commitFrom, 20u) << "the building phase makes many file operations";
    std::vector<unsigned> points = spread(1, product.commitFrom - 1, 40);
    for (unsigned k : spread(product.commitFrom, product.checkpoints, 80)) points.push_back(k);
    for (unsigned k : points) {
        std::string wrong = product.killAt(k);
        EXPECT_EQ(wrong, "");
        if (!wrong.empty()) break;
    }
    std::printf("[   INFO   ] %zu kills among %u file operations, %u of them building\n", points.size(),
                product.checkpoints, product.commitFrom - 1);
}
