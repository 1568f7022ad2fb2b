// Runs the diffs and compressions of an update build on threads (see
// pkg/updatework.h).
#include "pkg/updatework.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "pkg/compress.h"
#include "pkg/differ.h"
#include "pkg/suffixdiff.h"

namespace pkg {
namespace {

Bytes blanked(const Bytes& data, const std::vector<Region>& regions) {
    Bytes copy = data;
    blankRegions(copy, regions);
    return copy;
}

}  // namespace

// Runs every item on up to `jobs` threads. Items are taken in the order
// given; each writes only its own slot, so the order of completion does not
// matter. After a failure no further item starts; the first failure (in item
// order) is rethrown once all threads have stopped.
void runWork(std::vector<Planned>& plans, const std::vector<WorkItem>& items, const UpdateOptions& options) {
    uint64_t bytesTotal = 0;
    for (const WorkItem& w : items) bytesTotal += plans[w.plan].newBytes->size();
    std::mutex lock;
    size_t done = 0;
    uint64_t bytesDone = 0;
    auto report = [&](const WorkItem& w, bool finished) {
        if (!options.progress) return;
        std::lock_guard<std::mutex> hold(lock);
        if (finished) {
            done++;
            bytesDone += plans[w.plan].newBytes->size();
        }
        options.progress(BuildProgress{plans[w.plan].entry.relativePath, w.old < 0 ? "compress" : "diff",
                                       finished, done, items.size(), bytesDone, bytesTotal});
    };
    std::vector<std::exception_ptr> failures(items.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t k; (k = next.fetch_add(1)) < items.size();) {
            const WorkItem& w = items[k];
            Planned& p = plans[w.plan];
            try {
                report(w, false);
                if (w.old < 0) {
                    p.whole = compressStream(p.newBytes->data(), p.newBytes->size());
                } else {
                    size_t k = size_t(w.old);
                    Bytes old = blanked(*p.olds[k], p.entry.regions);
                    std::optional<DeltaStreams> plain;
                    if (options.differenceCopies) {
                        if (auto d = diffApproximate(old, *p.newBytes)) {
                            p.differences[k] = encodeDelta(d->streams);
                            p.differences[k].insert(p.differences[k].end(), d->difference.begin(), d->difference.end());
                            if (old.size() > kSearchPlainLimit) plain = exactCopies(d->streams, old, *p.newBytes);
                        }
                    }
                    if (!plain) plain = diffFiles(old, *p.newBytes);
                    p.copied[k] = copiedBytes(plain->commands);
                    p.deltas[k] = encodeDelta(*plain);
                }
                report(w, true);
            } catch (...) {
                failures[k] = std::current_exception();
                next.store(items.size());
            }
        }
    };
    unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    size_t threads = std::min<size_t>(jobs, items.size());
    std::vector<std::thread> pool;
    try {
        while (threads > 1 && pool.size() < threads) pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those that started share the work.
    }
    if (pool.empty()) worker();
    for (std::thread& t : pool) t.join();
    for (const auto& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace pkg
