// Texts and names in the installer's ANSI code page.
//
// The installer is an ANSI program: it reads every text, file name and path
// of its package as 8-bit characters in the ANSI code page of the Windows it
// runs on. updpack reads UTF-8 (TOML files, Linux file names) and writes each
// text in the code page a project names (installer.codepage, 1252 unless it
// says otherwise). A character is taken only when it converts and converts
// back to itself, so that Windows shows what the publisher wrote and a file
// gets exactly the name the version folder gives it; anything else is
// refused with the character named. toUtf8 reads package bytes back for
// inspect, verify and diagnose.
//
// The conversion itself is the platform's: the C library's iconv natively
// (codepage_iconv.cpp), Windows' own in the Windows test programs
// (codepage_win32.cpp). No conversion table lives here.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pkg {

struct CodePageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// One ANSI code page of Windows: its number, the LOGFONT character set whose
// fonts show it, and the languages it serves.
struct AnsiCodePage {
    unsigned number;
    uint8_t fontCharset;
    bool doubleByte;
    const char* languages;
};
const std::vector<AnsiCodePage>& ansiCodePages();

class CodePage {
public:
    static const unsigned DEFAULT = 1252;

    CodePage() : CodePage(DEFAULT) {}
    // CodePageError, listing the code pages there are, for a number that is
    // no ANSI code page of Windows.
    explicit CodePage(unsigned number);

    unsigned number() const { return info_->number; }
    uint8_t fontCharset() const { return info_->fontCharset; }
    bool doubleByte() const { return info_->doubleByte; }

    // The text in this code page; nothing when it cannot be written there,
    // with *why saying which character (or that the bytes are no UTF-8).
    std::optional<std::string> fromUtf8(const std::string& utf8, std::string* why = nullptr) const;
    // fromUtf8, or CodePageError("what: why").
    std::string encode(const std::string& utf8, const std::string& what) const;
    // Bytes of this code page as UTF-8; a byte that begins no character of
    // it reads as U+FFFD.
    std::string toUtf8(const std::string& bytes) const;
    // True when the byte begins a two-byte character (double-byte code
    // pages only). Its second byte may look like an ASCII letter or '\'.
    bool isLeadByte(uint8_t byte) const;
    // isLeadByte for every byte: the table the installer's own code reads
    // names with natively (package/codepage.h, leadByteFlags).
    std::array<uint8_t, 256> leadBytes() const;

private:
    const AnsiCodePage* info_;
};

// UTF-8 as code points; a byte that begins no well-formed sequence (overlong
// forms and surrogates included) gives nothing, or 0xFFFD with `lenient`.
std::optional<std::u32string> decodeUtf8(const std::string& utf8, bool lenient = false);
std::string encodeUtf8(const std::u32string& chars);

// The character as Windows' file systems compare it in names: upper case as
// their case table gives it.
char32_t windowsUpper(char32_t c);

// The platform's conversion (codepage_iconv.cpp, codepage_win32.cpp).
namespace platform {
// Whole text, UTF-8 to the code page; nothing when a character fails.
std::optional<std::string> encode(unsigned codePage, const std::string& utf8);
// Code page to UTF-8; bytes that begin no character give U+FFFD.
std::string decode(unsigned codePage, const std::string& bytes);
bool isLeadByte(unsigned codePage, uint8_t byte);
// Unicode upper case of one character (simple mapping).
char32_t upper(char32_t c);
}  // namespace platform

}  // namespace pkg
