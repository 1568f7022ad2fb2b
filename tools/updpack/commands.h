// The subcommands of updpack. Each returns the process exit code (an
// ExitCode) and throws std::runtime_error for failures with a message.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace updpack {

// The process exit codes of updpack, the numbers scripts see.
enum ExitCode {
    COMMAND_OK = 0,      // the command did its job
    COMMAND_FAILED = 1,  // it failed (a message says why) or found differences
    COMMAND_USAGE = 2    // the command line was wrong
};

// jobs: threads that diff and compress; 0 = one per core.
int build(const std::string& projectPath, std::string output, std::string stubPath, unsigned jobs = 0);

// What inspect prints; several may be combined.
enum InspectSection : unsigned {
    INSPECT_RECORDS = 1,    // the record chain and the decoded settings
    INSPECT_TEXTS = 2,      // every string-table text
    INSPECT_TEMPLATES = 4,  // the dialog templates
    INSPECT_FILES = 8,      // the file table
    INSPECT_DATA = 16,      // data area and volume files
    INSPECT_ALL = 31
};
int inspect(const std::string& installer, unsigned sections = INSPECT_ALL);
int checksum(const std::vector<std::string>& files);

// 1234567 -> "1,234,567": the numbers updpack prints.
std::string grouped(uint64_t n);
// codePage: the installer.codepage the project starts with.
int init(const std::string& dir, bool force, unsigned codePage = 1252);
int regions(const std::vector<std::string>& folders);
int verify(const std::string& installer, const std::vector<std::string>& oldFolders, const std::string& newFolder);
int diagnose(const std::string& installer, const std::string& folder,
             const std::vector<std::string>& oldFolders);

}  // namespace updpack
