// updpack: the packaging tool.
//
//   updpack build PROJECT.toml [-o OUT] [--stub STUB]   write an installer
//   updpack inspect INSTALLER                            list its records
//   updpack checksum FILE...                             version checksums
//   updpack verify INSTALLER --old DIR [--old DIR...]    run it over copies of old versions
//   updpack diagnose INSTALLER FOLDER [--old DIR...]     what it finds in an installed folder
//
// Exit codes: 0 success, 1 failure, 2 usage.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "updpack/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"updpack: builds update installers"};
    app.require_subcommand(1);
    std::string project, output, stub, installer;
    std::vector<std::string> files, oldDirs;
    std::string folder;
    auto* buildCmd = app.add_subcommand("build", "write the installer a project describes");
    buildCmd->add_option("project", project, "project file (TOML)")->required();
    buildCmd->add_option("-o,--output", output, "installer to write (default: the project's output)");
    buildCmd->add_option("--stub", stub, "stub to use (default: the project's, else updstub-i686.exe here)");
    auto* inspectCmd = app.add_subcommand("inspect", "list the records of an installer");
    inspectCmd->add_option("installer", installer)->required();
    auto* checksumCmd = app.add_subcommand("checksum", "print the version checksum and size of files");
    checksumCmd->add_option("files", files)->required();
    auto* verifyCmd = app.add_subcommand("verify", "update a copy of each old version with the installer's engine and prove the result");
    verifyCmd->add_option("installer", installer)->required();
    verifyCmd->add_option("--old", oldDirs, "an old version's folder (repeatable)")->required();
    auto* diagnoseCmd = app.add_subcommand("diagnose", "show which version of each file an installed folder holds (read-only)");
    diagnoseCmd->add_option("installer", installer)->required();
    diagnoseCmd->add_option("folder", folder, "the installed folder")->required();
    diagnoseCmd->add_option("--old", oldDirs, "old version folders to name versions and nearest copies by");
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
        if (*verifyCmd) return updpack::verify(installer, oldDirs);
        if (*diagnoseCmd) return updpack::diagnose(installer, folder, oldDirs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updpack: %s\n", e.what());
        return 1;
    }
    return 2;
}
