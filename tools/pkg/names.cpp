#include "pkg/names.h"

#include <cstring>

#include "pkg/codepage.h"

namespace pkg {

std::u32string nameKeyChars(const std::string& relativePath) {
    std::u32string key;
    if (std::optional<std::u32string> chars = decodeUtf8(relativePath)) {
        for (char32_t c : *chars) key += c == '/' ? U'\\' : windowsUpper(c);
        return key;
    }
    for (char b : relativePath) {  // no UTF-8: byte by byte, ASCII letters folded
        unsigned char u = static_cast<unsigned char>(b);
        key += u == '/' ? U'\\' : u < 0x80 ? windowsUpper(u) : u;
    }
    return key;
}

std::string nameKey(const std::string& relativePath) {
    std::u32string chars = nameKeyChars(relativePath);
    if (decodeUtf8(relativePath)) return encodeUtf8(chars);
    std::string key;  // bytes stay bytes
    for (char32_t c : chars) key += static_cast<char>(c);
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
    static const char* devices[] = {"CON", "PRN", "AUX", "NUL"};
    bool device = false;
    for (const char* d : devices) device = device || stem == d;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
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
