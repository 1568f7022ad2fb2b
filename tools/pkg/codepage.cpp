#include "pkg/codepage.h"

#include <cstdio>

namespace pkg {

const std::vector<AnsiCodePage>& ansiCodePages() {
    // Windows' ANSI code pages with the LOGFONT character set of each
    // (wingdi.h: ANSI_CHARSET 0, SHIFTJIS_CHARSET 128, ...).
    static const std::vector<AnsiCodePage> pages = {
        {874, 222, false, "Thai"},
        {932, 128, true, "Japanese"},
        {936, 134, true, "Chinese (simplified)"},
        {949, 129, true, "Korean"},
        {950, 136, true, "Chinese (traditional)"},
        {1250, 238, false, "Central European: Polish, Czech, Slovak, Hungarian, Slovenian, Croatian, Romanian"},
        {1251, 204, false, "Cyrillic: Russian, Ukrainian, Bulgarian, Serbian"},
        {1252, 0, false, "Western European and the Americas: English, German, French, Spanish, Italian, "
                         "Portuguese, Dutch, Danish, Swedish, Norwegian, Finnish"},
        {1253, 161, false, "Greek"},
        {1254, 162, false, "Turkish"},
        {1255, 177, false, "Hebrew"},
        {1256, 178, false, "Arabic"},
        {1257, 186, false, "Baltic: Estonian, Latvian, Lithuanian"},
        {1258, 163, false, "Vietnamese"},
    };
    return pages;
}

CodePage::CodePage(unsigned number) : info_(nullptr) {
    std::string all;
    for (const AnsiCodePage& p : ansiCodePages()) {
        if (p.number == number) info_ = &p;
        all += (all.empty() ? "" : ", ") + std::to_string(p.number);
    }
    if (!info_) throw CodePageError("code page " + std::to_string(number) + " is no ANSI code page of Windows (" + all + ")");
}

namespace {

std::string codePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

}  // namespace

std::optional<std::string> CodePage::fromUtf8(const std::string& utf8, std::string* why) const {
    std::optional<std::u32string> chars = decodeUtf8(utf8);
    if (!chars) {
        if (why) *why = "not UTF-8";
        return std::nullopt;
    }
    // Plain ASCII is the same in every ANSI code page.
    bool ascii = true;
    for (char32_t c : *chars) ascii = ascii && c < 0x80;
    if (ascii) return utf8;
    std::optional<std::string> bytes = platform::encode(number(), utf8);
    if (bytes && platform::decode(number(), *bytes) == utf8) return bytes;
    // Find the character that does not make the round trip.
    for (char32_t c : *chars) {
        std::string one = encodeUtf8(std::u32string(1, c));
        std::optional<std::string> b = platform::encode(number(), one);
        if (b && platform::decode(number(), *b) == one) continue;
        if (why)
            *why = "code page " + std::to_string(number()) + " has no \"" + one + "\" (" + codePoint(c) + ")" +
                   (b ? ", only a look-alike" : "");
        return std::nullopt;
    }
    // Every character converts alone, the whole text does not (a code page
    // that joins characters): refuse it as it is.
    if (why) *why = "code page " + std::to_string(number()) + " cannot hold this text exactly";
    return std::nullopt;
}

std::string CodePage::encode(const std::string& utf8, const std::string& what) const {
    std::string why;
    std::optional<std::string> bytes = fromUtf8(utf8, &why);
    if (!bytes) throw CodePageError(what + ": " + why);
    return *bytes;
}

std::string CodePage::toUtf8(const std::string& bytes) const {
    bool ascii = true;
    for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    return ascii ? bytes : platform::decode(number(), bytes);
}

bool CodePage::isLeadByte(uint8_t byte) const { return doubleByte() && byte >= 0x80 && platform::isLeadByte(number(), byte); }

std::array<uint8_t, 256> CodePage::leadBytes() const {
    std::array<uint8_t, 256> flags{};
    for (unsigned b = 0x80; doubleByte() && b < 256; b++) flags[b] = isLeadByte(static_cast<uint8_t>(b));
    return flags;
}

std::optional<std::u32string> decodeUtf8(const std::string& utf8, bool lenient) {
    std::u32string out;
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        // Sequence length and the smallest code point it may carry.
        size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        static const char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        bool good = n && i + n <= utf8.size();
        for (size_t k = 1; good && k < n; k++) {
            unsigned char t = static_cast<unsigned char>(utf8[i + k]);
            good = (t & 0xC0) == 0x80;
            c = c << 6 | (t & 0x3F);
        }
        good = good && c >= least[n] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (!good) {
            if (!lenient) return std::nullopt;
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        out.push_back(c);
        i += n;
    }
    return out;
}

std::string encodeUtf8(const std::u32string& chars) {
    std::string out;
    for (char32_t c : chars) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

char32_t windowsUpper(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
    // The case table of Windows' file systems follows Unicode's simple upper
    // case, except that it leaves these as they are: the micro sign, dotless
    // i and long s, whose Unicode capitals (Greek Mu, I, S) would make them
    // the same name as another letter of the same code page.
    if (c == 0x00B5 || c == 0x0131 || c == 0x017F) return c;
    return platform::upper(c);
}

}  // namespace pkg
