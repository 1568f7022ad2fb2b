// The work of one update build: a diff per old version of each entry and
// one compression of its new file, run on several threads by runWork (used
// by pkg/update.cpp). Each item writes only its own slot of its plan, so the
// order in which items finish never changes a byte.
#pragma once
#include <string>
#include <vector>

#include "pkg/difference.h"
#include "pkg/update.h"

namespace pkg {

// One entry of the new set before its data is known, with the work that
// will give it: a diff per old version and one compression of the new file.
struct Planned {
    TableEntry entry;
    EntryCost cost;
    const Bytes* newBytes = nullptr;
    std::vector<const Bytes*> olds;  // distinct old contents that differ from the new file
    Proof newProof;
    std::vector<Proof> oldProofs;    // one per old
    std::string indistinct;          // why the versions cannot be told apart, if so
    bool absentSomewhere = false;
    // One per old, filled by the workers: the plain delta, the sum of its
    // copy lengths, and the delta with difference copies (empty if none).
    std::vector<Bytes> deltas;
    std::vector<uint64_t> copied;
    std::vector<Bytes> differences;
    Bytes whole;                     // filled by the workers
};

struct WorkItem {
    size_t plan;
    int old;  // index into olds; -1 = compress the new file
};

// Runs every item on up to `jobs` threads. Items are taken in the order
// given; each writes only its own slot, so the order of completion does not
// matter. After a failure no further item starts; the first failure (in item
// order) is rethrown once all threads have stopped.
void runWork(std::vector<Planned>& plans, const std::vector<WorkItem>& items, const UpdateOptions& options);

}  // namespace pkg
