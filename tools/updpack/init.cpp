// updpack init: starts a project in a folder. Writes project.toml with every
// key of the project file (the ones a publisher must fill as real keys, the
// rest commented with their defaults), copies the shipped texts, layouts and
// pictures beside it for editing, and creates the two version folders the
// project names. Refuses a folder that already holds a project.toml unless
// forced; then only the files init writes are replaced.
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "pkg/codepage.h"
#include "pkg/stub.h"
#include "updpack/commands.h"
#include "updpack/project.h"

namespace fs = std::filesystem;

namespace updpack {
namespace {

const char* kProjectHead = R"(# An update installer project. Put the files of an installed earlier
# version into versions/1.0 and those of the new version into versions/2.0,
# then build the installer with
#   updpack build project.toml
# Paths are relative to this file. Commented keys show their default.

[installer]
codepage = %CODEPAGE%# the ANSI code page of the users' Windows (%LANGUAGES%): texts and file names are written in it
# output = "setup.exe"                # the installer to write
# stub = "updstub-i686.exe"           # the program part; default: the one beside updpack
# start_page = "wizard"               # "wizard" = every page in turn; 0-6 = only that page
# full_screen = false                 # true: the wizard sits on a full-screen backdrop
# all_or_nothing = true               # build and check every file before replacing any; false: one by one
# destination = "#Program Files#\\Product"   # folder first offered; #Windows#, #System#, #Program Files# expand
# title = "Product 2.0"               # title on the full-screen backdrop
frame_image = "frame.bmp"             # picture left of the pages, BMP or PNG; "" = none
background_image = "background.bmp"   # tile of the full-screen backdrop, BMP or PNG; "" = a gradient
)";

const char* kTemplatesScript =
    R"(templates = "templates.rc"            # the wizard's layouts: DIALOGs 0-7 and 9 (needs windres to build)
)";

const char* kTemplatesCompiled =
    R"(# The layouts: templates.rc is their source. No resource compiler (windres,
# Debian's binutils-mingw-w64) was found, so the compiled copy is used; after
# editing templates.rc, run
#   windres -O res templates.rc -o templates.res
# or install windres and say templates = "templates.rc".
templates = "templates.res"           # the wizard's layouts: DIALOGs 0-7 and 9
)";

const char* kProjectTail = R"(texts = "texts.toml"                  # the wizard's texts; [texts] below replaces single ones
# defaults = true                     # take what is left out from updpack's shipped defaults

# [installer.title_font]              # font of the backdrop's title
# face = "Arial"                      # at most 31 characters
# height = 36                         # in pixels, 6-400
# weight = 700                        # 0-1000: 400 normal, 700 bold
# italic = false

# [installer.registry]                # a registry value holding the installed folder
# root = "HKCU"                       # HKCR, HKCU, HKLM or HKU
# key = "Software\\Company\\Product"
# value = "InstallDir"

# [installer.ini]                     # or an INI file entry holding it
# file = "product.ini"
# section = "Paths"
# key = "InstallDir"

# [texts]                             # single texts, by "TABLE.INDEX" or by name
# welcome_title = "Welcome to the Product 2.0 update"
# "6.0" = "Product 2.0 Update"

[update]
old = ["versions/1.0"]                # folders of earlier versions, each a whole installation
new = "versions/2.0"                  # folder of the new version
# volume_size = 0                     # largest file written, bytes (131072 or more); 0 = one file
# difference_copies = true            # copies may carry byte differences (smaller patches of machine code)
# digest = true                       # a 64-bit digest beside each checksum; false: such files may be stored whole
# follow_links = false                # symbolic links in the folders: refused, or stored as what they point to

# Rules for some files; the first rule whose glob matches a file applies.
# [[update.rule]]
# files = "*.ini"                     # glob: * and ? stay within a folder; either slash; any case
# location = "install"                # install (folder), windows (the Windows folder), shared (found by Windows)
# unknown = "fail"                    # an installed copy of no known version: fail, skip, ask (for a folder of old copies)
# alternate = "disk1"                 # with "ask": the subfolder there that holds the old copy
# optional = false                    # true: a missing installed copy is skipped, not an error
# delete = false                      # true: the update removes the file, even if the new version has it
# version = "auto"                    # checked before replacing a newer copy: auto (version resource), none, "2.0.1.7"
# regions = [ { pattern = ";<user>", length = 53 } ]   # bytes each installation keeps; see updpack regions
#   A region starts where pattern (text) or pattern_bytes (hex, "0D 0A 41") first
#   occurs, or at offset; it runs for length bytes; restore = false blanks it
#   for the checks without keeping the installed bytes.
)";

}  // namespace

int init(const std::string& dir, bool force, unsigned codePage) {
    pkg::CodePage page(codePage);  // refuses a number that is no ANSI code page
    fs::path root(dir);
    if (fs::exists(root) && !fs::is_directory(root)) throw std::runtime_error(dir + ": exists and is no folder");
    if (fs::exists(root / "project.toml") && !force)
        throw std::runtime_error((root / "project.toml").string() +
                                 " exists; use --force to replace the files init writes");
    std::string defaults = findDefaultsDir();
    if (defaults.empty())
        throw std::runtime_error("the default layouts and texts (a \"defaults\" folder beside updpack) are missing");
    std::vector<std::string> copies = {"texts.toml", "templates.rc", "templates.res", "frame.bmp", "background.bmp"};
    for (const std::string& name : copies)
        if (!fs::is_regular_file(fs::path(defaults) / name))
            throw std::runtime_error(defaults + ": " + name + " is missing from the defaults");

    fs::create_directories(root / "versions" / "1.0");
    fs::create_directories(root / "versions" / "2.0");
    for (const std::string& name : copies)
        pkg::writeFile((root / name).string(), pkg::readFile((fs::path(defaults) / name).string()));
    std::string project = std::string(kProjectHead) + (findWindres().empty() ? kTemplatesCompiled : kTemplatesScript) +
                          kProjectTail;
    std::string languages;
    for (const pkg::AnsiCodePage& p : pkg::ansiCodePages())
        if (p.number == codePage) languages = p.languages;
    languages = languages.substr(0, languages.find(':'));  // "Western European and the Americas"
    std::string number = std::to_string(codePage);
    project.replace(project.find("%CODEPAGE%"), 10, number + std::string(27 - number.size(), ' '));  // comments at 38
    project.replace(project.find("%LANGUAGES%"), 11, languages);
    pkg::writeFile((root / "project.toml").string(), pkg::Bytes(project.begin(), project.end()));
    std::printf("%s: project.toml, %zu files to edit, versions/1.0 and versions/2.0 to fill\n",
                root.string().c_str(), copies.size());
    return COMMAND_OK;
}

}  // namespace updpack
