// updpack: the packaging tool.
//
//   updpack build PROJECT.toml [-o OUT] [--stub STUB]   write an installer
//   updpack inspect INSTALLER                            list its records
//   updpack checksum FILE...                             version checksums
//   updpack init DIR [--force]                           start a project
//   updpack regions FOLDER FOLDER...                     propose preserved regions
//
// Exit codes: 0 success, 1 failure, 2 usage.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "updpack/commands.h"

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
    std::string dir;
    bool force = false;
    auto* initCmd = app.add_subcommand("init", "start a project: project.toml, texts, layouts, pictures");
    initCmd->add_option("dir", dir, "folder for the project (created)")->required();
    initCmd->add_flag("--force", force, "overwrite an existing project there");
    std::vector<std::string> installations;
    auto* regionsCmd = app.add_subcommand("regions", "propose preserved regions from installations of one version");
    regionsCmd->add_option("folders", installations, "two or more installed copies")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    try {
        if (*buildCmd) return updpack::build(project, output, stub);
        if (*inspectCmd) return updpack::inspect(installer);
        if (*checksumCmd) return updpack::checksum(files);
        if (*initCmd) return updpack::init(dir, force);
        if (*regionsCmd) return updpack::regions(installations);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updpack: %s\n", e.what());
        return 1;
    }
    return 2;
}
