#include "pkg/names.h"

#include <cstring>

namespace pkg {

std::string nameKey(const std::string& relativePath) {
    std::string key = relativePath;
    for (char& c : key) {
        if (c == '/') c = '\\';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return key;
}

bool sameName(const std::string& a, const std::string& b) { return nameKey(a) == nameKey(b); }

namespace {

std::string componentProblem(const std::string& c) {
    if (c.empty()) return "an empty folder name";
    for (char ch : c) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (u < 32) return "a control character";
        if (std::strchr("<>:\"|?*", ch)) return std::string("the character ") + ch;
    }
    if (c.back() == '.' || c.back() == ' ')
        return std::string("\"") + c + "\" ends in a " + (c.back() == '.' ? "dot" : "space");
    // Device names, alone or before an extension.
    std::string stem = nameKey(c.substr(0, c.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    static const char* devices[] = {"con", "prn", "aux", "nul"};
    bool device = false;
    for (const char* d : devices) device = device || stem == d;
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
        stem[3] >= '1' && stem[3] <= '9')
        device = true;
    if (device) return "\"" + c + "\" is a device name";
    return "";
}

}  // namespace

std::string windowsNameProblem(const std::string& relativePath) {
    size_t start = 0;
    for (;;) {
        size_t end = relativePath.find_first_of("\\/", start);
        std::string problem = componentProblem(relativePath.substr(start, end - start));
        if (!problem.empty()) return problem;
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

}  // namespace pkg
