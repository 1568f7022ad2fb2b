// The installer's own engine, run natively: the shared part of
// `updpack verify` (verify.cpp) and `updpack diagnose` (diagnose.cpp).
//
// EngineSession loads a package exactly as the stub's loader does (binding
// key from the installer's first 65,536 bytes, record chain, file table)
// into the engine's one global InstallerState; only one session may exist
// at a time. The trial and the diagnosis below drive verifyInstallation and
// installNextFile as the wizard does, and report in plain structs so that
// tests can read them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/filetable.h"
#include "pkg/codepage.h"

namespace updpack {

class EngineSession {
public:
    // Throws std::runtime_error with a clear message when the file is no
    // installer or its package does not load.
    explicit EngineSession(const std::string& installer);
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    // The folder verification and installation look at (destinationDir).
    void setDestination(const std::string& folder);
    std::vector<FileEntry*> entries() const;
    // Where the engine looks for the entry's file (resolveTarget).
    std::string targetOf(FileEntry* entry) const;
    // The code page the package's texts and names are written in.
    const pkg::CodePage& codePage() const;
};

// Size and checksum of a file as verification sums it (the entry's
// preserved regions located and blanked); false when it cannot be opened.
bool sumAsInstalled(FileEntry* entry, const std::string& path, uint32_t* size, uint32_t* sum);

// The path as reports show it: relative to the session's destination when
// it lies there.
std::string shown(const std::string& path);

// Name and description of a result code, and (withPackageText) the message
// the installer shows for it, when the package has one ("%s" = subject).
std::string describeResult(int code, const std::string& subject, bool withPackageText = true);

// A key other than the stub's that would turn every file of the folder that
// matches no known version into a known one, when no file is recognised:
// the package was built against another stub. Looks at the session's
// destination.
std::optional<uint32_t> foreignBindingKey(EngineSession& session);

// One old version updated in a copy and proved.
struct Trial {
    std::string folder;
    bool passed = false;
    unsigned updated = 0, added = 0, removed = 0;
    unsigned skipped = 0;  // unknown versions a skip rule left as they were
    std::string failure;   // which file and why, when !passed
};
// Updates a copy of oldFolder and compares the result with newFolder byte by
// byte (preserved regions blanked); the first difference names its offset.
Trial tryUpdate(const std::string& installer, const std::string& oldFolder, const std::string& newFolder);

// Byte ranges where two files differ (offset, length), merged; bytes one file
// has past the other's end count as differing.
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};
std::vector<ByteRange> differingRanges(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// What verification finds for one file of an installed folder.
struct Finding {
    std::string path;                  // relative, as the table has it
    std::string action;                // "delta", "whole", "delete"
    int chosenVersion = CV_NONE;       // an index or CV_*
    std::vector<std::string> folders;  // --old folders holding that version
    std::string stop;                  // why verification stopped here, if it did
    // Unknown files, given --old folders: the nearest one and where it differs.
    std::string nearest;
    uint64_t differingBytes = 0;
    std::vector<ByteRange> ranges;
};
struct Diagnosis {
    int result = 0;          // verifyInstallation over the whole folder
    std::string resultText;  // describeResult of it
    std::optional<uint32_t> foreignKey;
    std::vector<Finding> files;
};
Diagnosis diagnoseFolder(const std::string& installer, const std::string& folder,
                         const std::vector<std::string>& oldFolders);

}  // namespace updpack
