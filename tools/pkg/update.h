// The package side of an update: lays out a whole update from old and new
// file sets (file table, data area, volumes), reads version folders and
// writes the installer and its volumes.
//
// buildUpdateFromSets diffs (pkg/differ.h) and compresses on several threads
// (one work item per old version of a file, plus one compression of each new
// file) and lays the results out in path order afterwards, so the thread
// count never changes a byte of the output. Each diff makes a plain delta
// and, unless the options say no, one with difference copies
// (pkg/suffixdiff.h); an entry takes the form whose deltas cost fewer bytes
// in all, a plain delta standing in (with a difference stream of zeros) for
// any version where it is the smaller. Bad input (names, sizes, rules the
// installer cannot carry out) throws std::invalid_argument.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pkg/filetable.h"
#include "pkg/writer.h"

namespace pkg {


// Per-file choices; keyed by relative path (backslashes, as in the table).
struct FileRule {
    uint8_t location = LOC_INSTALL_DIR;
    uint8_t onUnknownVersion = UNK_FAIL;
    std::string altSubfolder;
    std::vector<Region> regions;
    std::optional<FileVersion> version;
    std::optional<FileTimes> times;
    bool optional = false;  // absent installed copies are skipped
};

// Where a build stands, for a progress display. A work item is one diff
// (one old version of one file) or one compression of a new file; bytes
// count the new-file bytes of the items, so a diff and a compression of the
// same file weigh the same.
struct BuildProgress {
    std::string path;     // the file of the item just started or finished
    const char* step;     // "diff" or "compress"
    bool finished;        // false: the item has just started
    size_t itemsDone, itemsTotal;
    uint64_t bytesDone, bytesTotal;
};

struct UpdateOptions {
    std::vector<Record> records;  // everything but the file table and the data
    uint32_t bindingKey = 0;      // of the stub (buildUpdate fills it in)
    uint32_t volumeSize = 0;      // largest file (installer or volume); 0 = one file
    std::map<std::string, FileRule> rules;
    unsigned jobs = 0;            // worker threads; 0 = one per core
    // Deltas with difference copies where they are smaller (per entry).
    bool differenceCopies = true;
    // Give every entry digests (FE_HAS_DIGEST). Without them, a file whose
    // versions the checksum and size cannot tell apart is stored whole.
    bool digest = true;
    // The code page the file table's names are written in.
    CodePage codePage;
    // Names of the old sets in notes (default "old #1", "old #2", ...).
    std::vector<std::string> oldNames;
    // Called from the workers, never two calls at once.
    std::function<void(const BuildProgress&)> progress;
};

// A set of files by relative path (backslash-separated) with their bytes.
using FileSet = std::map<std::string, Bytes>;

// What one table entry costs in the data area, beside the entry itself.
struct EntryCost {
    // Per SourceVersion of the entry: the bytes installing from it reads
    // (its delta, or the shared whole-file stream), and the old sets (index
    // into oldSets) that hold that version.
    std::vector<uint32_t> versionBytes;
    std::vector<std::vector<size_t>> versionSets;
    std::vector<size_t> absentFrom;  // old sets without the file
    uint32_t storedBytes = 0;        // the entry's share of the data area
};

struct BuiltUpdate {
    Bytes installer;
    std::vector<Bytes> volumes;       // .D01, .D02, ...
    std::vector<TableEntry> entries;   // the table as written
    std::vector<EntryCost> costs;      // one per entry
    uint32_t dataSize = 0;            // all volumes together
    uint32_t installerDataSize = 0;   // the part of the data area in the installer
    // What the publisher should know about choices the build made (a file
    // stored whole because its versions cannot be told apart), one line each.
    std::vector<std::string> notes;
};

// Lays out an update from in-memory sets: one entry per file of the new set
// (in path order) that differs from some old version, then delete entries
// for files that only old sets hold.
BuiltUpdate buildUpdateFromSets(const std::vector<FileSet>& oldSets, const FileSet& newSet,
                                const Bytes& stub, UpdateOptions options);

// A version folder as read: its files, and the folders that hold nothing
// (the installer creates no folder without a file; build reports them).
struct Folder {
    FileSet files;
    std::vector<std::string> emptyFolders;  // relative, backslashes
};
struct FolderOptions {
    // Symbolic links: refused (false), or followed (true): a file link's
    // target is stored under the link's own name, a folder link is walked.
    bool followLinks = false;
    // Names must be written in this code page, and relative paths fit
    // RELATIVE_PATH_BUDGET in its bytes; nothing: any UTF-8 name is taken.
    std::optional<CodePage> codePage = CodePage();
};
// Reads every file below the folder. std::runtime_error naming the folder
// and the relative path for: a symbolic link (unless followed), a broken one
// or a loop of them, a name Windows cannot hold or the code page cannot
// write (or that is no UTF-8), two names that differ only in case, a
// relative path longer than RELATIVE_PATH_BUDGET (pkg/names.h),
// a file of 2 GiB or more, and whatever cannot be read.
Folder scanFolder(const std::string& folder, const FolderOptions& options = {});
// scanFolder(folder).files.
FileSet readFolder(const std::string& folder);
BuiltUpdate buildUpdate(const std::vector<std::string>& oldDirs, const std::string& newDir,
                        const Bytes& stub, const UpdateOptions& options);
// Writes installer and volumes (installer path with .D01, .D02, ...).
void writeUpdate(const BuiltUpdate& update, const std::string& installerPath);

}  // namespace pkg
