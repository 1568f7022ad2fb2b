#include "pkg/differ.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "engine/delta.h"
#include "pkg/compress.h"
#include "pkg/difference.h"
#include "pkg/names.h"
#include "pkg/stub.h"
#include "pkg/suffixdiff.h"

namespace pkg {

// ---- Encoding ----

void encodeDistance(Bytes& out, int32_t d) {
    if (d >= -32 && d <= 31) {
        out.push_back(static_cast<uint8_t>(0x80 | (d & 0x3F)));
    } else if (d >= -16416 && d <= 16415) {
        int32_t v = d > 0 ? d - 32 : d + 32;
        out.push_back(static_cast<uint8_t>((v >> 8) & 0x7F));
        out.push_back(static_cast<uint8_t>(v));
    } else {
        if (d < DELTA_DISTANCE_MIN || d > DELTA_DISTANCE_MAX)
            throw std::logic_error("differ: copy distance out of range");
        int32_t v = d > 0 ? d - 16416 : d + 16416;
        out.push_back(static_cast<uint8_t>(0xC0 | ((v >> 16) & 0x3F)));
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
}

void encodeInsert(DeltaStreams& delta, const uint8_t* bytes, size_t n) {
    delta.data.insert(delta.data.end(), bytes, bytes + n);
    while (n) {
        size_t k = std::min<size_t>(n, DELTA_INSERT_MAX);
        delta.commands.push_back(static_cast<uint8_t>(0x80 | (k - 1)));
        n -= k;
    }
}

void encodeCopy(Bytes& commands, uint32_t length, int32_t distance, uint32_t fusedInsert) {
    if (length < 2 || length > DELTA_COPY_MAX) throw std::logic_error("differ: copy length");
    if (fusedInsert) {
        if (fusedInsert > 3 || length > 33) throw std::logic_error("differ: fused command");
        commands.push_back(static_cast<uint8_t>(0x80 | (fusedInsert << 5) | (length - 2)));
    } else if (length <= 128) {
        commands.push_back(static_cast<uint8_t>(length - 1));
    } else {
        commands.push_back(0);
        commands.push_back(static_cast<uint8_t>(length - 129));
        commands.push_back(static_cast<uint8_t>((length - 129) >> 8));
    }
    encodeDistance(commands, distance);
}

static int distanceBytes(int64_t d) {
    if (d >= -32 && d <= 31) return 1;
    if (d >= -16416 && d <= 16415) return 2;
    return 3;
}

// ---- Matching ----

namespace {

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

class Matcher {
public:
    Matcher(const Bytes& oldFile, const Bytes& newFile) : o_(oldFile), n_(newFile) {
        size_t size = o_.size();
        bits_ = 16;
        while (bits_ < 24 && (size_t(1) << bits_) < size) bits_++;
        head_.assign(size_t(1) << bits_, 0);
        if (size >= 4) {
            prev_.assign(size, 0);
            for (size_t i = 0; i + 4 <= size; i++) {
                uint32_t h = hash(o_.data() + i);
                prev_[i] = head_[h];
                head_[h] = static_cast<uint32_t>(i + 1);
            }
        }
    }

    DeltaStreams run() {
        DeltaStreams out;
        const size_t m = n_.size();
        size_t i = 0, litStart = 0;
        int64_t oldPos = 0;
        while (i < m) {
            Match best = find(i, litStart, oldPos);
            if (best.gain <= 0) {
                i++;
                continue;
            }
            // Lazy: a clearly better copy one or two bytes on wins.
            bool later = false;
            for (size_t k = 1; k <= kLazy && i + k < m && !later; k++)
                later = find(i + k, litStart, oldPos).gain > best.gain + double(k) * kLit;
            if (later) {
                i++;
                continue;
            }
            // Backward extension into the pending literals.
            while (i > litStart && best.from > 0 && n_[i - 1] == o_[best.from - 1]) {
                i--;
                best.from--;
                best.length++;
            }
            emit(out, litStart, i, best, oldPos);
            lastCopy_ = best.length;
            if (best.length >= kAnchorLength) {
                anchor_ = int64_t(best.from) - int64_t(i);
                haveAnchor_ = true;
            }
            i += best.length;
            litStart = i;
        }
        if (litStart < m) encodeInsert(out, n_.data() + litStart, m - litStart);
        return out;
    }

private:
    struct Match {
        size_t from = 0;
        size_t length = 0;
        double gain = 0;
    };

    uint32_t hash(const uint8_t* p) const { return (load32(p) * 2654435761u) >> (32 - bits_); }

    size_t extend(size_t from, size_t at) const {
        return matchLength(o_.data() + from, n_.data() + at, std::min(o_.size() - from, n_.size() - at));
    }

    // Encoded-size gain of copying length bytes from `from` instead of
    // inserting them.
    static double gainOf(size_t length, int64_t distance, size_t pending) {
        if (distance < DELTA_DISTANCE_MIN || distance > DELTA_DISTANCE_MAX) return -1;
        double cost = 1 + distanceBytes(distance);
        if (length > 128) cost += 2;
        if (length > DELTA_COPY_MAX) cost += double(length / DELTA_COPY_MAX) * 4;
        if (pending >= 1 && pending % 32 >= 1 && pending % 32 <= 3 && length <= 33) cost -= 1;
        return double(length) * kLit - cost * kCmd - kBias;
    }

    void consider(Match& best, size_t from, size_t at, int64_t oldPos, size_t pending) const {
        if (from >= o_.size()) return;
        int64_t d = int64_t(from) - oldPos;
        if (d < DELTA_DISTANCE_MIN || d > DELTA_DISTANCE_MAX) return;  // unreachable from here
        size_t length = extend(from, at);
        if (length < 2) return;
        double g = gainOf(length, int64_t(from) - oldPos, pending);
        // A copy away from the alignment of the last long copy usually has
        // to jump back afterwards: charge that distance now.
        if (haveAnchor_) {
            int64_t back = anchor_ - (int64_t(from) - int64_t(at));
            if (back != 0) g -= kReturnWeight * kCmd * distanceBytes(back);
        }
        if (g > best.gain) {
            best.from = from;
            best.length = length;
            best.gain = g;
        }
    }

    Match find(size_t at, size_t litStart, int64_t oldPos) const {
        Match best;
        size_t pending = at - litStart;
        if (oldPos >= 0) {
            consider(best, size_t(oldPos), at, oldPos, pending);
            consider(best, size_t(oldPos) + pending, at, oldPos, pending);
        }
        if (at + 4 > n_.size() || prev_.empty()) return best;
        uint32_t key = load32(n_.data() + at);
        // Right after a long copy, a short deletion or edit usually resumes
        // a little further on: look there before the chains, whose newest
        // entries may all lie elsewhere in repetitive data.
        if (lastCopy_ >= 32 && pending <= 16 && oldPos >= 0) {
            size_t lo = size_t(oldPos) > 64 ? size_t(oldPos) - 64 : 0;
            size_t hi = std::min(o_.size() - 4, size_t(oldPos) + 1024);
            for (size_t from = lo; from <= hi && from + 4 <= o_.size(); from++)
                if (load32(o_.data() + from) == key) consider(best, from, at, oldPos, pending);
        }
        uint32_t candidate = head_[hash(n_.data() + at)];
        for (int depth = 0; candidate && depth < kDepth; depth++) {
            size_t from = candidate - 1;
            candidate = prev_[from];
            if (load32(o_.data() + from) != key) continue;
            if (best.length > 4 && from + best.length < o_.size() &&
                o_[from + best.length - 1] != n_[at + best.length - 1])
                continue;
            consider(best, from, at, oldPos, pending);
            if (best.length >= kGoodEnough) break;
        }
        return best;
    }

    void emit(DeltaStreams& out, size_t litStart, size_t at, const Match& m, int64_t& oldPos) {
        size_t pending = at - litStart;
        uint32_t fused = 0;
        if (pending) {
            size_t tail = pending % DELTA_INSERT_MAX;
            if (tail >= 1 && tail <= 3 && m.length <= 33) {
                if (pending > tail) encodeInsert(out, n_.data() + litStart, pending - tail);
                out.data.insert(out.data.end(), n_.data() + at - tail, n_.data() + at);
                fused = static_cast<uint32_t>(tail);
            } else {
                encodeInsert(out, n_.data() + litStart, pending);
            }
        }
        size_t from = m.from, left = m.length;
        while (left) {
            size_t k = std::min<size_t>(left, DELTA_COPY_MAX);
            if (left - k == 1) k--;  // never leave a 1-byte copy
            encodeCopy(out.commands, static_cast<uint32_t>(k), static_cast<int32_t>(int64_t(from) - oldPos),
                       fused);
            fused = 0;
            oldPos = int64_t(from + k);
            from += k;
            left -= k;
        }
    }

    // Tuned on the patch benchmark's pairs (bench/patch.sh): how far the
    // lazy step looks, how many chain entries are tried, when a match is
    // long enough to stop looking.
    static constexpr size_t kLazy = 3;
    static constexpr int kDepth = 48;
    static constexpr size_t kGoodEnough = 4096;
    const Bytes& o_;
    const Bytes& n_;
    int bits_;
    size_t lastCopy_ = 0;
    bool haveAnchor_ = false;
    int64_t anchor_ = 0;  // old minus new position of the last long copy
    // A copy this long sets the alignment later copies are expected to
    // return to; leaving it is charged kReturnWeight times the distance
    // field back (weight 1 made libcrypto's delta 19% larger than 3).
    static constexpr size_t kAnchorLength = 64;
    static constexpr double kReturnWeight = 3.0;
    // Encoded bytes per literal and per command byte, and the least gain a
    // copy must bring.
    static constexpr double kLit = 1.0;
    static constexpr double kCmd = 1.0;
    static constexpr double kBias = 1.5;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> prev_;
};

}  // namespace

DeltaStreams diffFiles(const Bytes& oldFile, const Bytes& newFile) {
    if (oldFile.size() > 0x7FFFFFFF || newFile.size() > 0x7FFFFFFF)
        throw std::invalid_argument("differ: files must stay below 2 GiB");
    return Matcher(oldFile, newFile).run();
}

DeltaStreams insertAll(const Bytes& newFile) {
    DeltaStreams d;
    encodeInsert(d, newFile.data(), newFile.size());
    return d;
}

// One stream from its raw bytes and their compressed form.
Bytes encodeStreamPacked(const Bytes& raw, const Bytes& packed) {
    Bytes out;
    uint8_t header = raw.size() > 0xFFFF ? STREAM_SIZE_32 : 0;
    if (raw.empty()) {
        out = {0, 0, 0};
        return out;
    }
    bool compress = packed.size() + (packed.size() > 0xFFFF ? 4 : 2) < raw.size();
    if (compress) header |= STREAM_COMPRESSED | (packed.size() > 0xFFFF ? STREAM_PACKED_32 : 0);
    out.push_back(header);
    if (header & STREAM_SIZE_32) put32(out, static_cast<uint32_t>(raw.size()));
    else put16(out, static_cast<uint16_t>(raw.size()));
    if (compress) {
        if (header & STREAM_PACKED_32) put32(out, static_cast<uint32_t>(packed.size()));
        else put16(out, static_cast<uint16_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    } else {
        out.insert(out.end(), raw.begin(), raw.end());
    }
    return out;
}

Bytes encodeStream(const Bytes& raw) {
    if (raw.empty()) return encodeStreamPacked(raw, {});
    return encodeStreamPacked(raw, compressStream(raw.data(), raw.size()));
}

Bytes encodeDelta(const DeltaStreams& delta) {
    Bytes out = encodeStream(delta.commands);
    Bytes data = encodeStream(delta.data);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ---- The package side ----

namespace {

// "1.0, 1.1": old sets by their names, or "old #1" for the first old set.
std::string setList(const std::vector<size_t>& sets, const std::vector<std::string>& names) {
    std::string out;
    for (size_t s : sets)
        out += (out.empty() ? "" : ", ") + (s < names.size() ? names[s] : "old #" + std::to_string(s + 1));
    return out;
}

Bytes blanked(const Bytes& data, const std::vector<Region>& regions) {
    Bytes copy = data;
    blankRegions(copy, regions);
    return copy;
}

Proof proofOf(const Bytes& data, const std::vector<Region>& regions) {
    return blankedProof(data.data(), data.size(), regions);
}

// What the installer identifies a version by: size, checksum and, with
// digests, the digest.
bool sameIdentity(const Proof& a, size_t sizeA, const Proof& b, size_t sizeB, bool digest) {
    return sizeA == sizeB && a.checksum == b.checksum && (!digest || a.digest == b.digest);
}

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

// A name that is a file in one version and a folder in another cannot be
// changed by the installer: it replaces and deletes files, never folders,
// and a file cannot be made where a folder stands (or the reverse).
void checkFileFolderChanges(const std::vector<FileSet>& oldSets, const FileSet& newSet,
                            const std::vector<std::string>& names) {
    auto setName = [&](size_t s) { return setList({s}, names); };
    std::map<std::string, std::pair<size_t, std::string>> oldFiles, oldFolders;  // key -> set, a file
    for (size_t s = 0; s < oldSets.size(); s++)
        for (const auto& [path, bytes] : oldSets[s]) {
            std::string key = nameKey(path);
            oldFiles.emplace(key, std::make_pair(s, path));
            for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
                oldFolders.emplace(key.substr(0, at), std::make_pair(s, path));
        }
    for (const auto& [path, bytes] : newSet) {
        std::string key = nameKey(path);
        if (auto it = oldFolders.find(key); it != oldFolders.end())
            throw std::invalid_argument(path + ": a folder in " + setName(it->second.first) + " (holding " +
                                        it->second.second + ") but a file in the new version; the installer "
                                        "cannot turn a folder into a file: give the file another name");
        for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
            if (auto it = oldFiles.find(key.substr(0, at)); it != oldFiles.end())
                throw std::invalid_argument(it->second.second + ": a file in " + setName(it->second.first) +
                                            " but a folder in the new version (holding " + path +
                                            "); the installer cannot turn a file into a folder: give the folder "
                                            "another name");
    }
}

}  // namespace

BuiltUpdate buildUpdateFromSets(const std::vector<FileSet>& oldSets, const FileSet& newSet,
                                const Bytes& stub, UpdateOptions options) {
    options.bindingKey = stubBindingKey(stub);
    BuiltUpdate built;
    Bytes data;

    // Names are matched as Windows matches them: without case.
    std::vector<std::map<std::string, FileSet::const_iterator>> oldByKey(oldSets.size());
    for (size_t s = 0; s < oldSets.size(); s++)
        for (auto it = oldSets[s].begin(); it != oldSets[s].end(); ++it) oldByKey[s].emplace(nameKey(it->first), it);
    std::map<std::string, std::string> newKeys;
    for (const auto& [path, bytes] : newSet)
        if (auto [seen, fresh] = newKeys.emplace(nameKey(path), path); !fresh)
            throw std::invalid_argument(path + " and " + seen->second + " differ only in case; Windows holds one of them");
    checkFileFolderChanges(oldSets, newSet, options.oldNames);

    // Plan: which files need an entry, and the work each needs.
    std::vector<Planned> plans;
    for (const auto& [path, newBytes] : newSet) {
        if (newBytes.size() > 0x7FFFFFFF) throw std::invalid_argument(path + ": files must stay below 2 GiB");
        FileRule rule;
        if (auto it = options.rules.find(path); it != options.rules.end()) rule = it->second;
        Planned p;
        p.newBytes = &newBytes;
        for (size_t s = 0; s < oldSets.size(); s++) {
            auto found = oldByKey[s].find(nameKey(path));
            if (found == oldByKey[s].end()) {
                p.absentSomewhere = true;
                p.cost.absentFrom.push_back(s);
                continue;
            }
            auto it = found->second;
            // A file renamed in case only is updated (with its own bytes), so
            // that the installer gives it the new name.
            if (it->second == newBytes && it->first == path) continue;
            size_t seen = 0;
            while (seen < p.olds.size() && *p.olds[seen] != it->second) seen++;
            if (seen == p.olds.size()) {
                p.olds.push_back(&it->second);
                p.cost.versionSets.emplace_back();
            }
            p.cost.versionSets[seen].push_back(s);
        }
        if (!p.absentSomewhere && p.olds.empty()) continue;  // the same everywhere
        if (p.absentSomewhere && !rule.regions.empty())
            throw std::invalid_argument(path + ": a file that some old version lacks cannot keep preserved regions");

        // Versions (the new one included) whose blanked bytes differ but whose
        // identities agree would be mistaken for one another: such a file is
        // stored whole, which rebuilds it right from whichever is installed.
        p.newProof = proofOf(newBytes, rule.regions);
        for (const Bytes* o : p.olds) p.oldProofs.push_back(proofOf(*o, rule.regions));
        auto differ = [&](const Bytes& a, const Bytes& b) {
            return blankedCopy(a.data(), a.size(), rule.regions) != blankedCopy(b.data(), b.size(), rule.regions);
        };
        for (size_t k = 0; k < p.olds.size() && p.indistinct.empty(); k++) {
            const Bytes& mine = *p.olds[k];
            if (sameIdentity(p.oldProofs[k], mine.size(), p.newProof, newBytes.size(), options.digest) &&
                differ(mine, newBytes))
                p.indistinct = "the version in " + setList(p.cost.versionSets[k], options.oldNames) +
                               " and the new version";
            for (size_t j = k + 1; j < p.olds.size() && p.indistinct.empty(); j++)
                if (sameIdentity(p.oldProofs[k], mine.size(), p.oldProofs[j], p.olds[j]->size(), options.digest) &&
                    differ(mine, *p.olds[j]))
                    p.indistinct = "the versions in " + setList(p.cost.versionSets[k], options.oldNames) + " and in " +
                                   setList(p.cost.versionSets[j], options.oldNames);
        }

        TableEntry& e = p.entry;
        e.relativePath = path;
        e.altSubfolder = rule.altSubfolder;
        e.location = rule.location;
        e.onUnknownVersion = rule.onUnknownVersion;
        e.presence = p.absentSomewhere ? PRES_NEW : rule.optional ? PRES_OPTIONAL : PRES_REQUIRED;
        e.newSize = static_cast<uint32_t>(newBytes.size());
        e.newChecksum = p.newProof.checksum;
        if (options.digest) e.newDigest = p.newProof.digest;
        e.version = rule.version;
        e.times = rule.times;
        e.regions = rule.regions;
        // The compressed new file serves the whole-file entry and the
        // insert-everything delta that each diff is measured against.
        p.deltas.resize(p.absentSomewhere ? 0 : p.olds.size());
        p.copied.resize(p.deltas.size());
        p.differences.resize(p.deltas.size());
        plans.push_back(std::move(p));
    }

    // Largest files first, so that no thread is left with a big one at the end.
    std::vector<WorkItem> items;
    for (size_t k = 0; k < plans.size(); k++) {
        items.push_back({k, -1});
        for (size_t o = 0; o < plans[k].deltas.size(); o++) items.push_back({k, int(o)});
    }
    std::stable_sort(items.begin(), items.end(), [&](const WorkItem& a, const WorkItem& b) {
        return plans[a.plan].newBytes->size() > plans[b.plan].newBytes->size();
    });
    runWork(plans, items, options);

    // Lay the results out in path order.
    for (Planned& p : plans) {
        TableEntry& e = p.entry;
        size_t deltaTotal = 0;
        if (!p.deltas.empty()) {
            Bytes all = encodeStream(insertAll(*p.newBytes).commands);
            Bytes body = encodeStreamPacked(*p.newBytes, p.whole);
            all.insert(all.end(), body.begin(), body.end());
            for (size_t k = 0; k < p.deltas.size(); k++) {
                if (all.size() < p.deltas[k].size()) {
                    p.deltas[k] = all;
                    p.copied[k] = 0;
                }
                deltaTotal += p.deltas[k].size();
            }
            // The form with difference copies: each version takes its own
            // such delta, or the plain one with zeros, whichever is smaller.
            bool available = true;
            for (const Bytes& d : p.differences) available = available && !d.empty();
            if (available) {
                size_t differenceTotal = 0;
                std::vector<Bytes> chosen(p.deltas.size());
                for (size_t k = 0; k < p.deltas.size(); k++) {
                    Bytes zeros = zeroDifference(p.copied[k]);
                    if (p.deltas[k].size() + zeros.size() <= p.differences[k].size()) {
                        chosen[k] = p.deltas[k];
                        chosen[k].insert(chosen[k].end(), zeros.begin(), zeros.end());
                    } else {
                        chosen[k] = std::move(p.differences[k]);
                    }
                    differenceTotal += chosen[k].size();
                }
                if (differenceTotal < deltaTotal) {
                    p.deltas = std::move(chosen);
                    deltaTotal = differenceTotal;
                    e.differenceCopies = true;
                }
            }
            p.differences.clear();
        }
        // Preserved regions need the old file: only a delta keeps them.
        bool useWhole = p.absentSomewhere || !p.indistinct.empty() || (e.regions.empty() && p.whole.size() < deltaTotal);
        if (!p.indistinct.empty())
            built.notes.push_back(e.relativePath + ": " + p.indistinct + " have the same checksum and size" +
                                  (options.digest ? " and digest" : "") +
                                  ", so the installer cannot tell them apart: stored whole");

        uint32_t at = static_cast<uint32_t>(data.size());
        if (useWhole) {
            e.wholeFile = true;
            e.differenceCopies = false;
            data.insert(data.end(), p.whole.begin(), p.whole.end());
            uint32_t packed = static_cast<uint32_t>(p.whole.size());
            if (p.olds.empty()) {  // created from nothing only: a version no file matches
                e.versions.push_back(OldVersion{0, 0xFFFFFFFF, at, packed, 0});
                p.cost.versionSets.emplace_back();
            }
            for (size_t k = 0; k < p.olds.size(); k++)
                e.versions.push_back(OldVersion{p.oldProofs[k].checksum, static_cast<uint32_t>(p.olds[k]->size()), at,
                                                packed, p.oldProofs[k].digest});
            p.cost.versionBytes.assign(e.versions.size(), packed);
            p.cost.storedBytes = packed;
        } else {
            for (size_t k = 0; k < p.olds.size(); k++) {
                e.versions.push_back(OldVersion{p.oldProofs[k].checksum, static_cast<uint32_t>(p.olds[k]->size()),
                                                static_cast<uint32_t>(data.size()), 0, p.oldProofs[k].digest});
                data.insert(data.end(), p.deltas[k].begin(), p.deltas[k].end());
                p.cost.versionBytes.push_back(static_cast<uint32_t>(p.deltas[k].size()));
            }
            p.cost.storedBytes = static_cast<uint32_t>(deltaTotal);
        }
        if (data.size() > 0x7FFF0000) throw std::invalid_argument("the data area would exceed 2 GiB");
        built.entries.push_back(std::move(e));
        built.costs.push_back(std::move(p.cost));
    }

    // Files that only old versions hold are deleted; the name the latest
    // old version gives them names the entry.
    std::map<std::string, std::pair<std::vector<const Bytes*>, EntryCost>> gone;
    std::map<std::string, std::string> goneNames;
    for (size_t s = 0; s < oldSets.size(); s++)
        for (const auto& [oldPath, bytes] : oldSets[s])
            if (!newKeys.count(nameKey(oldPath))) {
                std::string path = nameKey(oldPath);
                goneNames[path] = oldPath;
                auto& [list, cost] = gone[path];
                size_t seen = 0;
                while (seen < list.size() && *list[seen] != bytes) seen++;
                if (seen == list.size()) {
                    list.push_back(&bytes);
                    cost.versionSets.emplace_back();
                    cost.versionBytes.push_back(0);
                }
                cost.versionSets[seen].push_back(s);
            }
    for (auto& [key, g] : gone)
        for (size_t s = 0; s < oldSets.size(); s++)
            if (!oldByKey[s].count(key)) g.second.absentFrom.push_back(s);
    if (!gone.empty() && data.empty()) data.push_back(0);  // delete entries point into the area
    for (auto& [key, g] : gone) {
        const std::string& path = goneNames[key];
        const std::vector<const Bytes*>& list = g.first;
        FileRule rule;
        if (auto it = options.rules.find(path); it != options.rules.end()) rule = it->second;
        TableEntry e;
        e.relativePath = path;
        e.altSubfolder = rule.altSubfolder;
        e.location = rule.location;
        e.onUnknownVersion = UNK_SKIP;
        e.presence = PRES_OPTIONAL;
        e.deleteFile = true;
        e.regions = rule.regions;
        // The engine positions the data file even for a delete entry: the
        // last byte of the area is never behind the current volume.
        if (options.digest) e.newDigest = 0;  // no new file: only the versions' digests count
        for (const Bytes* o : list) {
            Proof proof = proofOf(*o, rule.regions);
            e.versions.push_back(OldVersion{proof.checksum, static_cast<uint32_t>(o->size()),
                                            static_cast<uint32_t>(data.size() - 1), 0, proof.digest});
        }
        built.entries.push_back(std::move(e));
        built.costs.push_back(std::move(g.second));
    }

    FileTableBuilder table(options.bindingKey, options.codePage);
    for (const TableEntry& e : built.entries) table.add(e);
    std::vector<Record> records = options.records;
    records.push_back(bufferRecord(REC_FILE_TABLE, table.bytes()));
    built.dataSize = static_cast<uint32_t>(data.size());

    // Volume 0 ends on an 8-byte boundary of the installer file when more
    // volumes follow, so the writer adds no padding that would move them.
    size_t prefix = stub.size();
    for (const Record& r : records) prefix += 8 + r.payload.size();
    prefix += 12;
    size_t first = data.size();
    if (options.volumeSize) {
        if (options.volumeSize < prefix + 64 || options.volumeSize < 4 + 64)
            throw std::invalid_argument("the volume size is too small for the installer");
        size_t capacity = options.volumeSize - prefix;
        capacity -= (prefix + capacity) % 8;
        if (data.size() + 8 > capacity) first = capacity;
    }
    InstallerLayout layout;
    built.installer = buildInstaller(stub, records, Bytes(data.begin(), data.begin() + first), &layout);
    built.installerDataSize = layout.dataSize;
    for (size_t at = first; at < data.size();) {
        size_t k = std::min<size_t>(data.size() - at, options.volumeSize - 4);
        Bytes volume;
        put32(volume, static_cast<uint32_t>(k));
        volume.insert(volume.end(), data.begin() + at, data.begin() + at + k);
        built.volumes.push_back(std::move(volume));
        at += k;
    }
    return built;
}

namespace {

namespace fs = std::filesystem;

class FolderReader {
public:
    FolderReader(const std::string& root, const FolderOptions& options) : root_(root), options_(options) {}

    void walk(const fs::path& dir, const std::string& relDir, Folder& out) {
        std::error_code ec;
        if (options_.followLinks) {
            fs::path real = fs::canonical(dir, ec);
            if (!ec && !walked_.insert(real.string()).second)
                fail(relDir, "its symbolic links lead round in a loop");
        }
        fs::directory_iterator it(dir, ec), end;
        if (ec) fail(relDir, "cannot read the folder: " + ec.message());
        bool holdsSomething = false;
        for (; it != end; it.increment(ec)) {
            if (ec) fail(relDir, "cannot read the folder: " + ec.message());
            std::string name = it->path().filename().string();
            std::string rel = relDir.empty() ? name : relDir + "\\" + name;
            std::string problem = windowsNameProblem(name);
            if (!problem.empty()) fail(rel, "Windows cannot hold this name: " + problem);
            std::optional<std::string> ansi = rel;
            if (options_.codePage) ansi = options_.codePage->fromUtf8(rel, &problem);
            if (!ansi) fail(rel, "the installer cannot write this name: " + problem);
            auto [seen, fresh] = keys_.emplace(nameKey(rel), rel);
            if (!fresh) fail(rel, "differs from " + seen->second + " only in case; Windows holds one of them");
            fs::file_status status = it->symlink_status(ec);
            if (fs::is_symlink(status)) {
                std::string target = fs::read_symlink(it->path(), ec).string();
                if (!options_.followLinks)
                    fail(rel, "a symbolic link (to " + target +
                                  "); set update.follow_links = true to store what it points to under its own name");
                status = fs::status(it->path(), ec);
                if (!fs::exists(status)) fail(rel, "a broken symbolic link (to " + target + ")");
            }
            holdsSomething = true;
            if (fs::is_directory(status)) {
                walk(it->path(), rel, out);
            } else if (fs::is_regular_file(status)) {
                if (ansi->size() > RELATIVE_PATH_BUDGET)  // bytes, as the installer counts them
                    fail(rel, std::to_string(ansi->size()) +
                                  (options_.codePage && options_.codePage->doubleByte()
                                       ? " bytes in code page " + std::to_string(options_.codePage->number())
                                       : std::string(" characters")) +
                                  "; relative paths may have at most " +
                                  std::to_string(RELATIVE_PATH_BUDGET) + ", so that they fit below an installation "
                                  "folder of " + std::to_string(DESTINATION_BUDGET) + " characters");
                out.files[rel] = readFile(it->path().string());
            } else {
                fail(rel, "neither a file nor a folder (a device, pipe or socket)");
            }
        }
        if (!holdsSomething && !relDir.empty()) out.emptyFolders.push_back(relDir);
    }

private:
    [[noreturn]] void fail(const std::string& rel, const std::string& why) const {
        throw std::runtime_error(root_ + (rel.empty() ? "" : ": " + rel) + ": " + why);
    }

    std::string root_;
    FolderOptions options_;
    std::map<std::string, std::string> keys_;  // nameKey -> the name as found
    std::set<std::string> walked_;             // folders walked, when links are followed
};

}  // namespace

Folder scanFolder(const std::string& folder, const FolderOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw std::runtime_error(folder + ": no such folder");
    Folder out;
    FolderReader(folder, options).walk(folder, "", out);
    std::sort(out.emptyFolders.begin(), out.emptyFolders.end());
    return out;
}

FileSet readFolder(const std::string& folder) { return scanFolder(folder).files; }

BuiltUpdate buildUpdate(const std::vector<std::string>& oldDirs, const std::string& newDir,
                        const Bytes& stub, const UpdateOptions& options) {
    FolderOptions names;  // read in the code page the table is written in
    names.codePage = options.codePage;
    std::vector<FileSet> olds;
    for (const std::string& d : oldDirs) olds.push_back(scanFolder(d, names).files);
    return buildUpdateFromSets(olds, scanFolder(newDir, names).files, stub, options);
}

void writeUpdate(const BuiltUpdate& update, const std::string& installerPath) {
    writeFile(installerPath, update.installer);
    std::string base = installerPath;
    size_t dot = base.find_last_of('.');
    size_t slash = base.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
    for (size_t k = 0; k < update.volumes.size(); k++) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".D%02zu", k + 1);
        writeFile(base + suffix, update.volumes[k]);
    }
}

}  // namespace pkg
