// updpack: the packaging tool.
//
//   updpack build PROJECT.toml [-o OUT] [--stub STUB]   write an installer
//   updpack inspect INSTALLER                            list its records
//   updpack checksum FILE...                             version checksums
//
// Exit codes: 0 success, 1 failure, 2 usage.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "engine/checksum.h"
#include "pkg/stub.h"
#include "updpack/project.h"

namespace fs = std::filesystem;

namespace {

std::string defaultStub(const char* argv0) {
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

int build(const std::string& projectPath, std::string output, std::string stubPath, const char* argv0) {
    updpack::Project project = updpack::loadProject(projectPath);
    if (stubPath.empty()) stubPath = project.stub.empty() ? defaultStub(argv0) : project.stub;
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

const char* tagName(uint16_t tag) {
    switch (tag) {
    case REC_OPTIONS: return "options";
    case REC_DEST_DIR: return "destination";
    case REC_FRAME_IMAGE: return "frame image";
    case REC_BACKGROUND_IMAGE: return "background image";
    case REC_TITLE: return "title";
    case REC_STRING_TABLES: return "string tables";
    case REC_REG_ROOT: return "registry root";
    case REC_REG_KEY: return "registry key";
    case REC_REG_VALUE: return "registry value";
    case REC_INI_FILE: return "INI file";
    case REC_INI_SECTION: return "INI section";
    case REC_INI_KEY: return "INI key";
    case REC_TEMPLATES: return "templates";
    case REC_FILE_TABLE: return "file table";
    case REC_START_PAGE: return "start page";
    case REC_TITLE_FONT: return "title font";
    case REC_FILE_DATA: return "file data";
    default: return "(skipped)";
    }
}

int inspect(const std::string& path) {
    pkg::Bytes file = pkg::readFile(path);
    if (file.size() < STUB_SIZE) throw std::runtime_error(path + ": shorter than a stub");
    pkg::Bytes stub(file.begin(), file.begin() + STUB_SIZE);
    std::printf("%s: %zu bytes, binding key %08X\n", path.c_str(), file.size(), pkg::stubBindingKey(stub));
    size_t pos = STUB_SIZE;
    while (pos + 8 <= file.size()) {
        PackageRecordHeader h;
        std::memcpy(&h, file.data() + pos, 8);
        std::printf("  %08zX  tag %04X %-17s flags %X length %u\n", pos, h.tag, tagName(h.tag), h.flags, h.length);
        pos += 8;
        if (h.tag == REC_FILE_DATA) {
            if (h.length && pos + 4 <= file.size()) {
                uint32_t d;
                std::memcpy(&d, file.data() + pos, 4);
                uint64_t end = pos + 4 + uint64_t(d);
                std::printf("            data area: %u bytes at %zX, file %s\n", d, pos + 4,
                            end == file.size() ? "complete" : end < file.size() ? "longer than the package" : "cut short");
            }
            return 0;
        }
        pos += h.length;
    }
    std::printf("  the record chain ends without a file-data record\n");
    return 1;
}

int checksum(const std::vector<std::string>& files) {
    for (const auto& f : files) {
        pkg::Bytes data = pkg::readFile(f);
        if (data.size() > 0x7FFFFFFF) throw std::runtime_error(f + ": files must stay below 2 GiB");
        std::printf("%08X  %10zu  %s\n", fileChecksum(data.data(), static_cast<uint32_t>(data.size()), 0),
                    data.size(), f.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"updpack: builds update installers"};
    app.require_subcommand(1);
    std::string project, output, stub, installer;
    std::vector<std::string> files;
    auto* buildCmd = app.add_subcommand("build", "write the installer a project describes");
    buildCmd->add_option("project", project, "project file (TOML)")->required();
    buildCmd->add_option("-o,--output", output, "installer to write (default: the project's output)");
    buildCmd->add_option("--stub", stub, "stub to use (default: the project's, else updstub-i686.exe here)");
    auto* inspectCmd = app.add_subcommand("inspect", "list the records of an installer");
    inspectCmd->add_option("installer", installer)->required();
    auto* checksumCmd = app.add_subcommand("checksum", "print the version checksum and size of files");
    checksumCmd->add_option("files", files)->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    try {
        if (*buildCmd) return build(project, output, stub, argv[0]);
        if (*inspectCmd) return inspect(installer);
        if (*checksumCmd) return checksum(files);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updpack: %s\n", e.what());
        return 1;
    }
    return 2;
}
