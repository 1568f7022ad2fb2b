// updpack: the packaging tool.
//
//   updpack build PROJECT.toml [-o OUT] [--stub STUB] [--jobs N]
//                                                        write an installer
//   updpack inspect INSTALLER [--records] [--texts] [--templates] [--files] [--data]
//                                                        what it holds
//   updpack checksum FILE...                             version checksums
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
    std::vector<std::string> files;
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
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    try {
        if (*buildCmd) return updpack::build(project, output, stub, jobs);
        if (*inspectCmd) {
            for (size_t k = 0; k < sectionOptions.size(); k++)
                if (*sectionOptions[k]) sections |= sectionFlags[k].second;
            return updpack::inspect(installer, sections ? sections : INSPECT_ALL);
        }
        if (*checksumCmd) return updpack::checksum(files);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "updpack: %s\n", e.what());
        return 1;
    }
    return 2;
}
