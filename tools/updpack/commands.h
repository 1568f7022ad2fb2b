// The subcommands of updpack. Each returns the process exit code (0 success,
// 1 failure) and throws std::runtime_error for failures with a message.
#pragma once
#include <string>
#include <vector>

namespace updpack {

int build(const std::string& projectPath, std::string output, std::string stubPath);
int inspect(const std::string& installer);
int checksum(const std::vector<std::string>& files);
int verify(const std::string& installer, const std::vector<std::string>& oldFolders);
int diagnose(const std::string& installer, const std::string& folder,
             const std::vector<std::string>& oldFolders);

}  // namespace updpack
