// updpack: the packaging tool.
//
//   updpack build PROJECT.toml [-o OUT] [--stub STUB] [--jobs N]
//                                                        write an installer
//   updpack inspect INSTALLER [--records] [--texts] [--templates] [--files] [--data]
//                                                        what it holds
//   updpack checksum FILE...                             version checksums
//   updpack init DIR [--force] [--codepage N]            start a project
//   updpack regions FOLDER FOLDER...                     propose preserved regions
//   updpack verify INSTALLER --old DIR [--old DIR...] --new DIR
//                                                        run it over copies of old versions
//   updpack diagnose INSTALLER FOLDER [--old DIR...]     what it finds in an installed folder
//
// Exit codes: 0 success, 1 failure, 2 usage.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "updpack/commands.h"

using namespace updpack;

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
    unsigned jobs = 0;
    buildCmd->add_option("-j,--jobs", jobs, "threads that diff and compress (default: one per core)")
        ->check(CLI::Range(1u, 256u));
    auto* inspectCmd = app.add_subcommand("inspect", "show what an installer holds, as its stub reads it");
    inspectCmd->add_option("installer", installer)->required();
    unsigned sections = 0;
    const std::pair<const char*, unsigned> sectionFlags[] = {
        {"--records", INSPECT_RECORDS}, {"--texts", INSPECT_TEXTS}, {"--templates", INSPECT_TEMPLATES},
        {"--files", INSPECT_FILES}, {"--data", INSPECT_DATA}};
    std::vector<CLI::Option*> sectionOptions;
    for (const auto& [flag, bit] : sectionFlags)
        sectionOptions.push_back(inspectCmd->add_flag(flag, "show only this section (may be combined)"));
    auto* checksumCmd = app.add_subcommand("checksum", "print the version checksum and size of files");
    checksumCmd->add_option("files", files)->required();
    std::string dir;
    bool force = false;
    auto* initCmd = app.add_subcommand("init", "start a project: project.toml, texts, layouts, pictures");
    initCmd->add_option("dir", dir, "folder for the project (created)")->required();
    initCmd->add_flag("--force", force, "overwrite an existing project there");
    unsigned codePage = 1252;
    initCmd->add_option("--codepage", codePage, "the ANSI code page of the installer's users (default 1252)");
    std::vector<std::string> installations;
    auto* regionsCmd = app.add_subcommand("regions", "propose preserved regions from installations of one version");
    regionsCmd->add_option("folders", installations, "two or more installed copies")->required();
    auto* verifyCmd = app.add_subcommand("verify", "update a copy of each old version with the installer's engine and prove the result");
    verifyCmd->add_option("installer", installer)->required();
    verifyCmd->add_option("--old", oldDirs, "an old version's folder (repeatable)")->required();
    std::string newDir;
    verifyCmd->add_option("--new", newDir, "the new version's folder: every result is compared with it byte by byte")
        ->required();
    auto* diagnoseCmd = app.add_subcommand("diagnose", "show which version of each file an installed folder holds (read-only)");
    diagnoseCmd->add_option("installer", installer)->required();
    diagnoseCmd->add_option("folder", folder, "the installed folder")->required();
    diagnoseCmd->add_option("--old", oldDirs, "old version folders to name versions and nearest copies by");
    // CLI11 would only say that a subcommand is required: name the word.
    if (argc > 1 && argv[1][0] != '-') {
        std::string names;
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
            known = known || sub->get_name() == argv[1];
            names += (names.empty() ? "" : ", ") + sub->get_name();
        }
        if (!known) {
            std::fprintf(stderr, "updpack: unknown subcommand \"%s\"; the subcommands are %s (--help says more)\n",
                         argv[1], names.c_str());
            return updpack::COMMAND_USAGE;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? updpack::COMMAND_OK : updpack::COMMAND_USAGE;
    }
    try {
        if (*buildCmd) return updpack::build(project, output, stub, jobs);
        if (*inspectCmd) {
            for (size_t k = 0; k < sectionOptions.size(); k++)
                if (*sectionOptions[k]) sections |= sectionFlags[k].second;
            return updpack::inspect(installer, sections ? sections : INSPECT_ALL);
        }
        if (*checksumCmd) return updpack::checksum(files);
        if (*initCmd) return updpack::init(dir, force, codePage);
        if (*regionsCmd) return updpack::regions(installations);
        if (*verifyCmd) return updpack::verify(installer, oldDirs, newDir);
        if (*diagnoseCmd) return updpack::diagnose(installer, folder, oldDirs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updpack: %s\n", e.what());
        return updpack::COMMAND_FAILED;
    }
    return updpack::COMMAND_USAGE;
}
