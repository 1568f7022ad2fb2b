// Lays out a whole update (see pkg/update.h).
#include "pkg/update.h"

#include <algorithm>
#include <stdexcept>

#include "pkg/differ.h"
#include "pkg/difference.h"
#include "pkg/names.h"
#include "pkg/stub.h"
#include "pkg/updatework.h"

namespace pkg {
namespace {

// "1.0, 1.1": old sets by their names, or "old #1" for the first old set.
std::string setList(const std::vector<size_t>& sets, const std::vector<std::string>& names) {
    std::string out;
    for (size_t s : sets)
        out += (out.empty() ? "" : ", ") + (s < names.size() ? names[s] : "old #" + std::to_string(s + 1));
    return out;
}

Proof proofOf(const Bytes& data, const std::vector<Region>& regions) {
    return blankedProof(data.data(), data.size(), regions);
}

// What the installer identifies a version by: size, checksum and, with
// digests, the digest.
bool sameIdentity(const Proof& a, size_t sizeA, const Proof& b, size_t sizeB, bool digest) {
    return sizeA == sizeB && a.checksum == b.checksum && (!digest || a.digest == b.digest);
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

// Names are matched as Windows matches them: without case.
using NameIndex = std::map<std::string, FileSet::const_iterator>;

FileRule ruleFor(const UpdateOptions& options, const std::string& path) {
    auto it = options.rules.find(path);
    return it != options.rules.end() ? it->second : FileRule();
}

// The entry one new file needs and the work that gives it; nothing when
// every old set holds the same file under the same name.
std::optional<Planned> planEntry(const std::string& path, const Bytes& newBytes,
                                 const std::vector<NameIndex>& oldByKey, const UpdateOptions& options) {
    if (newBytes.size() > 0x7FFFFFFF) throw std::invalid_argument(path + ": files must stay below 2 GiB");
    FileRule rule = ruleFor(options, path);
    Planned p;
    p.newBytes = &newBytes;
    for (size_t s = 0; s < oldByKey.size(); s++) {
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
    if (!p.absentSomewhere && p.olds.empty()) return std::nullopt;  // the same everywhere
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
    return p;
}

// Settles the deltas of a planned entry once the workers are done: each
// version's delta, or the insert-everything one where that is smaller, and
// the form with difference copies when it costs fewer bytes in all.
// Returns the bytes the deltas take together.
size_t chooseDeltas(Planned& p) {
    size_t deltaTotal = 0;
    if (p.deltas.empty()) return 0;
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
    // The form with difference copies: each version takes its own such
    // delta, or the plain one with zeros, whichever is smaller.
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
            p.entry.differenceCopies = true;
        }
    }
    p.differences.clear();
    return deltaTotal;
}

// Appends a planned entry's data to the data area and gives the entry its
// versions: the whole file, or one delta per old version.
void placeEntry(Planned& p, Bytes& data, BuiltUpdate& built, const UpdateOptions& options) {
    TableEntry& e = p.entry;
    size_t deltaTotal = chooseDeltas(p);
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

// Files that only old versions hold are deleted; the name the latest old
// version gives them names the entry.
void addDeleteEntries(const std::vector<FileSet>& oldSets, const std::vector<NameIndex>& oldByKey,
                      const std::map<std::string, std::string>& newKeys, Bytes& data, BuiltUpdate& built,
                      const UpdateOptions& options) {
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
        FileRule rule = ruleFor(options, path);
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
        for (const Bytes* o : g.first) {
            Proof proof = proofOf(*o, rule.regions);
            e.versions.push_back(OldVersion{proof.checksum, static_cast<uint32_t>(o->size()),
                                            static_cast<uint32_t>(data.size() - 1), 0, proof.digest});
        }
        built.entries.push_back(std::move(e));
        built.costs.push_back(std::move(g.second));
    }
}

// Writes the file table and the installer, the data area split over the
// installer and its volumes.
void writeInstallerAndVolumes(const Bytes& data, const Bytes& stub, BuiltUpdate& built,
                              const UpdateOptions& options) {
    FileTableBuilder table(options.bindingKey, options.codePage);
    for (const TableEntry& e : built.entries) table.add(e);
    std::vector<Record> records = options.records;
    records.push_back(bufferRecord(REC_FILE_TABLE, table.bytes()));
    built.dataSize = static_cast<uint32_t>(data.size());

    // Volume 0 ends on an 8-byte boundary of the installer file when more
    // volumes follow, so the writer adds no padding that would move them.
    size_t prefix = stub.size();
    for (const Record& r : records) prefix += sizeof(PackageRecordHeader) + r.payload.size();
    prefix += FILE_DATA_PREFIX;
    size_t first = data.size();
    if (options.volumeSize) {
        if (options.volumeSize < prefix + 64 || options.volumeSize < DATA_SIZE_WORD + 64)
            throw std::invalid_argument("the volume size is too small for the installer");
        size_t capacity = options.volumeSize - prefix;
        capacity -= (prefix + capacity) % 8;
        if (data.size() + 8 > capacity) first = capacity;
    }
    InstallerLayout layout;
    built.installer = buildInstaller(stub, records, Bytes(data.begin(), data.begin() + first), &layout);
    built.installerDataSize = layout.dataSize;
    for (size_t at = first; at < data.size();) {
        size_t k = std::min<size_t>(data.size() - at, options.volumeSize - DATA_SIZE_WORD);
        Bytes volume;
        put32(volume, static_cast<uint32_t>(k));
        volume.insert(volume.end(), data.begin() + at, data.begin() + at + k);
        built.volumes.push_back(std::move(volume));
        at += k;
    }
}

}  // namespace

BuiltUpdate buildUpdateFromSets(const std::vector<FileSet>& oldSets, const FileSet& newSet,
                                const Bytes& stub, UpdateOptions options) {
    options.bindingKey = stubBindingKey(stub);
    BuiltUpdate built;
    Bytes data;

    std::vector<NameIndex> oldByKey(oldSets.size());
    for (size_t s = 0; s < oldSets.size(); s++)
        for (auto it = oldSets[s].begin(); it != oldSets[s].end(); ++it) oldByKey[s].emplace(nameKey(it->first), it);
    std::map<std::string, std::string> newKeys;
    for (const auto& [path, bytes] : newSet)
        if (auto [seen, fresh] = newKeys.emplace(nameKey(path), path); !fresh)
            throw std::invalid_argument(path + " and " + seen->second + " differ only in case; Windows holds one of them");
    checkFileFolderChanges(oldSets, newSet, options.oldNames);

    // Plan: which files need an entry, and the work each needs.
    std::vector<Planned> plans;
    for (const auto& [path, newBytes] : newSet)
        if (std::optional<Planned> p = planEntry(path, newBytes, oldByKey, options)) plans.push_back(std::move(*p));

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
    for (Planned& p : plans) placeEntry(p, data, built, options);
    addDeleteEntries(oldSets, oldByKey, newKeys, data, built, options);
    writeInstallerAndVolumes(data, stub, built, options);
    return built;
}

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
    for (size_t k = 0; k < update.volumes.size(); k++) writeFile(volumePath(installerPath, k + 1), update.volumes[k]);
}

}  // namespace pkg
