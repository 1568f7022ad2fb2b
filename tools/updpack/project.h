// The project file: everything a publisher says about one installer, in
// TOML. Errors name the file, the line and the key; unknown keys are errors;
// relative paths resolve against the project file's folder.
#pragma once
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pkg/differ.h"
#include "pkg/writer.h"

namespace updpack {

struct ProjectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Project {
    std::string file;    // the project file
    std::string stub;    // empty: the default stub
    std::string output;  // installer to write
    uint16_t startPage = START_PAGE_WIZARD;
    bool fullScreen = false;
    // frameImage and backgroundImage: unset = the default picture, "" = none.
    std::optional<std::string> destination, title, frameImage, backgroundImage, templates;
    std::optional<pkg::Bytes> titleFont;  // LOGFONTA, 60 bytes
    bool hasRegistry = false;
    uint32_t registryRoot = 1;
    std::string registryKey, registryValue;
    bool hasIni = false;
    std::string iniFile, iniSection, iniKey;
    std::map<std::pair<int, int>, std::string> texts;  // (table, index) -> text
    // The layouts, texts and pictures shipped beside updpack fill whatever
    // the project leaves out, unless it says defaults = false.
    bool useDefaults = true;
    std::string defaultsDir;
    // The product's folders, oldest first and the new version last; with
    // two or more the installer carries the update between them.
    std::vector<std::string> versions;
    std::map<std::string, pkg::FileRule> rules;  // [files."relative\\path"]
};

// Where the shipped defaults live: "defaults" beside the running updpack,
// else the build's distribution folder. Empty when neither exists.
std::string findDefaultsDir();

// (table, index) -> text from the [texts] table of a TOML file.
std::map<std::pair<int, int>, std::string> loadTexts(const std::string& path);

// The template blob of a file: a compiled .res (its DIALOGs 0-7 and 9) or
// an already built blob, taken as it is.
pkg::Bytes templateBlobOf(const std::string& path);

Project loadProject(const std::string& path);

// The package records the project asks for (no file data yet).
std::vector<pkg::Record> projectRecords(const Project& project);

}  // namespace updpack
