// updpack build: writes the installer (and its volume files) a project
// describes, and prints what went into it.
#include <cstdio>
#include <filesystem>

#include "pkg/stub.h"
#include "updpack/commands.h"
#include "updpack/project.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

std::string defaultStub() {
    // The shipped stub lies beside the tool in the distribution folder.
    fs::path self = fs::canonical("/proc/self/exe");
    return (self.parent_path() / "updstub-i686.exe").string();
}

int buildUpdate(const updpack::Project& project, const pkg::Bytes& stub, const std::string& output) {
    const updpack::UpdateSpec& u = *project.update;
    std::vector<pkg::FileSet> oldSets;
    for (const auto& dir : u.oldDirs) oldSets.push_back(pkg::readFolder(dir));
    pkg::FileSet newSet = pkg::readFolder(u.newDir);
    std::vector<const pkg::FileSet*> all = {&newSet};
    for (const auto& set : oldSets) all.push_back(&set);
    pkg::UpdateOptions options;
    options.records = updpack::projectRecords(project);
    options.volumeSize = u.volumeSize;
    options.rules = updpack::resolveRules(u, all);
    updpack::applyNewVersionRules(u, newSet, options.rules);
    pkg::BuiltUpdate update = pkg::buildUpdateFromSets(oldSets, newSet, stub, options);
    pkg::writeUpdate(update, output);

    std::printf("%-40s %-7s %9s  %s\n", "file", "action", "new size", "known versions (size)");
    for (const auto& e : update.entries) {
        std::string versions;
        for (const auto& v : e.versions)
            if (v.size != 0xFFFFFFFFu)  // the stand-in version of a file to create
                versions += (versions.empty() ? "" : ", ") + std::to_string(v.size);
        if (versions.empty()) versions = "none (created)";
        const char* action = e.deleteFile ? "delete" : e.wholeFile ? "whole" : "delta";
        std::printf("%-40s %-7s %9u  %s\n", e.relativePath.c_str(), action, e.newSize, versions.c_str());
    }
    std::printf("%s: %zu bytes, %zu entries, data area %u bytes", output.c_str(), update.installer.size(),
                update.entries.size(), update.dataSize);
    if (!update.volumes.empty()) std::printf(", %zu volume files", update.volumes.size());
    std::printf("\n");
    return 0;
}

}  // namespace

int build(const std::string& projectPath, std::string output, std::string stubPath) {
    updpack::Project project = updpack::loadProject(projectPath);
    if (stubPath.empty()) stubPath = project.stub.empty() ? defaultStub() : project.stub;
    if (output.empty()) output = project.output;
    pkg::Bytes stub = pkg::loadStub(stubPath);
    if (project.update) return buildUpdate(project, stub, output);
    pkg::InstallerLayout layout;
    pkg::Bytes installer = pkg::buildInstaller(stub, updpack::projectRecords(project), {}, &layout);
    pkg::writeFile(output, installer);
    std::printf("%s: %zu bytes (stub %u, package %zu, data area %u bytes at %u)\n", output.c_str(),
                installer.size(), STUB_SIZE, installer.size() - STUB_SIZE, layout.dataSize,
                layout.dataAreaOffset);
    return 0;
}

}  // namespace updpack
