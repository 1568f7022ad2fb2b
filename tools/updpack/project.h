// The project file: everything a publisher says about one installer, in
// TOML. Errors name the file, the line and the key; unknown keys are errors;
// relative paths resolve against the project file's folder. Texts are kept
// in UTF-8 as written, each checked against the installer's code page
// (installer.codepage); projectRecords writes them in it.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pkg/codepage.h"
#include "pkg/update.h"
#include "pkg/writer.h"

namespace updpack {

struct ProjectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The files of the update: earlier versions, the new one, per-file rules.
struct UpdateSpec {
    std::vector<std::string> oldDirs;
    std::string newDir;
    uint32_t volumeSize = 0;  // 0 = everything in the installer
    bool differenceCopies = true;  // deltas with difference copies where smaller
    bool digest = true;       // every entry carries digests (FE_HAS_DIGEST)
    bool followLinks = false; // symbolic links in version folders: refused, or followed
    int line = 0;             // of the [update] table
    struct Rule {
        std::string glob;  // matched against the relative path ('/' or '\\')
        pkg::FileRule rule;
        bool remove = false;       // delete = true: removed from installations
        bool versionFromFile = true;  // fill rule.version from the version resource
        int line = 0;                 // of its files key, for "matches nothing"
    };
    std::vector<Rule> rules;  // the first matching rule applies
};

// True when `path` (relative, either separator) matches `glob` (* and ?,
// '*' does not cross a folder; '?' is one character, also a non-ASCII one;
// without case, as Windows compares names: pkg::nameKey).
bool globMatches(const std::string& glob, const std::string& path);

struct Project {
    std::string file;    // the project file
    int outputLine = 0;  // of installer.output, when the project gives it
    int stubLine = 0;    // of installer.stub, when the project gives it
    std::string stub;    // empty: the default stub
    std::string output;  // installer to write
    uint16_t startPage = START_PAGE_WIZARD;
    bool fullScreen = false;
    // Every file is built and proven before any is replaced (OPT_ALL_OR_NOTHING).
    bool allOrNothing = true;
    // frameImage and backgroundImage: unset = the default picture, "" = none.
    // The ANSI code page of the installer's users: every text and name.
    pkg::CodePage codePage;
    std::optional<std::string> destination, title, frameImage, backgroundImage, templates;
    std::optional<pkg::Bytes> titleFont;  // LOGFONTA, 60 bytes
    bool hasRegistry = false;
    uint32_t registryRoot = 1;
    std::string registryKey, registryValue;
    bool hasIni = false;
    std::string iniFile, iniSection, iniKey;
    std::map<std::pair<int, int>, std::string> texts;  // (table, index) -> text
    std::string textsFile;  // installer.texts: a file of [texts] under the project's own
    std::optional<UpdateSpec> update;
    // The layouts, texts and pictures shipped beside updpack fill whatever
    // the project leaves out, unless it says defaults = false.
    bool useDefaults = true;
    std::string defaultsDir;
};

// Where the shipped defaults live: "defaults" beside the running updpack,
// else the build's distribution folder. Empty when neither exists.
std::string findDefaultsDir();

// (table, index) -> text from the [texts] table of a TOML file. Keys are
// "TABLE.INDEX" or one of the names of textNames().
std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path);
// The same, refusing keys outside `known` and texts `codePage` cannot hold
// (when given).
std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path,
                                                     const std::set<std::pair<int, int>>* known,
                                                     const pkg::CodePage* codePage = nullptr);
// The (table, index) pairs the installer shows: those of the shipped
// defaults' texts.toml; empty when the defaults cannot be found.
std::set<std::pair<int, int>> knownTexts();

// True when path lies in folder or below it (symbolic links resolved).
bool isInside(const std::string& path, const std::string& folder);

// The names a [texts] table may use instead of "TABLE.INDEX".
struct TextName {
    const char* name;
    int table, index;
};
const std::vector<TextName>& textNames();

// The template blob of a file: a compiled .res (its DIALOGs 0-7 and 9), a
// .rc script in UTF-8 (compiled with windres, which must be installed, told
// so; a script that states its own "#pragma code_page" is taken in that),
// or an already built blob, taken as it is.
pkg::Bytes templateBlobOf(const std::string& path);

// The resource compiler updpack runs for a .rc script; empty when none is
// on the PATH.
std::string findWindres();

Project loadProject(const std::string& path);

// Checks that need the version folders read: every rule's glob matches some
// file of some version. ProjectError naming file, line and key.
void checkRulesMatch(const Project& project, const std::vector<const pkg::FileSet*>& sets);

// The package records the project asks for (no file table, no data).
std::vector<pkg::Record> projectRecords(const Project& project);

// Per-file rules of the update for the files of the given sets.
std::map<std::string, pkg::FileRule> resolveRules(const UpdateSpec& update,
                                                  const std::vector<const pkg::FileSet*>& sets);

// Settles what the rules say about the new version's files: files a
// delete rule names leave the new set (so the update deletes them), and the
// others' rules get the version their version resource states, unless the
// rule gives one or says version = "none".
void applyNewVersionRules(const UpdateSpec& update, pkg::FileSet& newSet,
                          std::map<std::string, pkg::FileRule>& rules);

}  // namespace updpack
