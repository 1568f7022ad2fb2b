// Building an update on several threads: the installer and its volumes are
// the same bytes whatever the thread count, the progress a build reports adds
// up, and the costs it reports per old version are the bytes the package
// actually holds for them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "pkg/update.h"
#include "support.h"

using pkg::Bytes;

namespace {

using testsupport::noise;

// An edited copy: a few bytes flipped, a run inserted, a run removed.
Bytes edited(Bytes b, uint32_t seed) {
    for (size_t k = 0; k < b.size() / 4000; k++) {
        seed = seed * 1664525 + 1013904223;
        b[(seed >> 8) % b.size()] ^= 0x5A;
    }
    Bytes run = noise(300, seed);
    b.insert(b.begin() + b.size() / 3, run.begin(), run.end());
    b.erase(b.begin() + b.size() / 2, b.begin() + b.size() / 2 + 200);
    return b;
}

// Three old versions and a new one: files that change in every version,
// one the first version lacks, one the new version drops, one that never
// changes, one with a kept region.
struct Sets {
    std::vector<pkg::FileSet> olds;
    pkg::FileSet now;
    std::map<std::string, pkg::FileRule> rules;
};

Sets makeSets() {
    Sets s;
    Bytes program = noise(180000, 1), library = noise(90000, 2), same = noise(5000, 3);
    Bytes ini = {'[', 'a', ']', '\n', ';', 'u', 's', 'e', 'r', '\n', 'x', '=', '1', '\n'};
    for (uint32_t v = 0; v < 3; v++) {
        pkg::FileSet set;
        set["bin\\program.exe"] = edited(program, 10 + v);
        set["bin\\library.dll"] = edited(library, 20 + v);
        set["same.txt"] = same;
        set["old.txt"] = noise(700 + v, 30);
        Bytes settings = ini;
        settings[12] = static_cast<uint8_t>('1' + v);  // the user's value, kept
        settings[1] = static_cast<uint8_t>('a' + v);
        set["settings.ini"] = settings;
        if (v) set["plugin.dll"] = edited(noise(40000, 4), 40 + v);
        s.olds.push_back(set);
    }
    s.now["bin\\program.exe"] = program;
    s.now["bin\\library.dll"] = library;
    s.now["same.txt"] = same;
    s.now["plugin.dll"] = noise(40000, 4);
    s.now["settings.ini"] = ini;
    s.now["whatsnew.txt"] = noise(60000, 5);
    pkg::Region kept;
    kept.pattern = {';', 'u', 's', 'e', 'r'};
    kept.length = 9;
    kept.restore = true;
    s.rules["settings.ini"].regions = {kept};
    return s;
}

pkg::BuiltUpdate build(const Sets& s, unsigned jobs, uint32_t volumeSize,
                       std::function<void(const pkg::BuildProgress&)> progress = {}) {
    pkg::UpdateOptions options;
    options.records = {pkg::textRecord(REC_TITLE, "Parallel")};
    options.rules = s.rules;
    options.volumeSize = volumeSize;
    options.jobs = jobs;
    options.progress = progress;
    return pkg::buildUpdateFromSets(s.olds, s.now, testsupport::fakeStub(), options);
}

TEST(ParallelBuild, TheThreadCountChangesNoByte) {
    Sets s = makeSets();
    for (uint32_t volumeSize : {0u, 70000u}) {
        pkg::BuiltUpdate one = build(s, 1, volumeSize);
        if (volumeSize) ASSERT_GE(one.volumes.size(), 2u) << "the layout is split over volumes";
        for (unsigned jobs : {2u, 3u, 8u, 0u}) {
            pkg::BuiltUpdate many = build(s, jobs, volumeSize);
            EXPECT_TRUE(many.installer == one.installer) << jobs << " jobs, volume size " << volumeSize;
            EXPECT_TRUE(many.volumes == one.volumes) << jobs << " jobs, volume size " << volumeSize;
        }
    }
}

TEST(ParallelBuild, ProgressCountsEveryItemOnceAndNeverOverlaps) {
    Sets s = makeSets();
    std::atomic<int> inside{0};
    bool overlapped = false;
    size_t started = 0, finished = 0;
    pkg::BuildProgress last{};
    build(s, 4, 0, [&](const pkg::BuildProgress& p) {
        if (inside.fetch_add(1)) overlapped = true;
        (p.finished ? finished : started)++;
        EXPECT_LE(p.itemsDone, p.itemsTotal);
        EXPECT_LE(p.bytesDone, p.bytesTotal);
        EXPECT_TRUE(std::strcmp(p.step, "diff") == 0 || std::strcmp(p.step, "compress") == 0);
        if (p.finished) last = p;
        inside.fetch_sub(1);
    });
    EXPECT_FALSE(overlapped);
    // Five files change: one compression each, plus a diff per old version
    // that differs from the new file (plugin.dll is new to the first version,
    // so it is only compressed; the first version's settings.ini is already
    // the new one).
    EXPECT_EQ(started, 5u + 3 + 3 + 2);
    EXPECT_EQ(finished, started);
    EXPECT_EQ(last.itemsDone, last.itemsTotal);
    EXPECT_EQ(last.itemsTotal, started);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
}

TEST(ParallelBuild, AFailureInAWorkerEndsTheBuildWithIt) {
    Sets s = makeSets();
    for (unsigned jobs : {1u, 3u}) {
        size_t calls = 0;
        auto failing = [&](const pkg::BuildProgress&) {
            if (++calls == 3) throw std::runtime_error("stopped");
        };
        EXPECT_THROW(build(s, jobs, 0, failing), std::runtime_error) << jobs << " jobs";
        EXPECT_LT(calls, 2 * (5u + 3 + 3 + 2)) << "no item starts after the failure";
    }
}

TEST(ParallelBuild, CostsAreTheBytesThePackageHolds) {
    Sets s = makeSets();
    pkg::BuiltUpdate u = build(s, 2, 0);
    ASSERT_EQ(u.costs.size(), u.entries.size());
    uint64_t stored = 0;
    for (size_t i = 0; i < u.entries.size(); i++) {
        const pkg::TableEntry& e = u.entries[i];
        const pkg::EntryCost& c = u.costs[i];
        SCOPED_TRACE(e.relativePath);
        ASSERT_EQ(c.versionBytes.size(), e.versions.size());
        ASSERT_EQ(c.versionSets.size(), e.versions.size());
        stored += c.storedBytes;
        // Every old set either holds one listed version or lacks the file
        // (sets holding the new file already need no version).
        size_t sets = c.absentFrom.size();
        for (const auto& list : c.versionSets) sets += list.size();
        EXPECT_LE(sets, s.olds.size());
        if (e.deleteFile) {
            EXPECT_EQ(c.storedBytes, 0u);
            EXPECT_EQ(sets, s.olds.size());
        } else if (e.wholeFile) {
            for (uint32_t b : c.versionBytes) EXPECT_EQ(b, c.storedBytes);
        } else {
            // Deltas lie back to back, each as long as reported.
            uint32_t sum = 0;
            for (size_t k = 0; k < e.versions.size(); k++) {
                if (k + 1 < e.versions.size())
                    EXPECT_EQ(e.versions[k + 1].dataOffset - e.versions[k].dataOffset, c.versionBytes[k]);
                sum += c.versionBytes[k];
            }
            EXPECT_EQ(sum, c.storedBytes);
        }
    }
    EXPECT_EQ(stored, u.dataSize) << "the data area holds nothing but the entries' streams";
}

}  // namespace
