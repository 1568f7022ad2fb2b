// The code-page conversion in the Windows test programs: Windows' own
// converters (MultiByteToWideChar, WideCharToMultiByte without best-fit
// look-alikes) and its upper case (CharUpperBuffW).
#include <windows.h>

#include "pkg/codepage.h"

namespace pkg {
namespace platform {
namespace {

std::wstring wide(const std::u32string& chars) {
    std::wstring out;
    for (char32_t c : chars) {
        if (c < 0x10000) {
            out += static_cast<wchar_t>(c);
        } else {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

std::u32string narrow(const std::wstring& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size(); i++) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i++;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace

std::optional<std::string> encode(unsigned codePage, const std::string& utf8) {
    std::optional<std::u32string> chars = decodeUtf8(utf8);
    if (!chars) return std::nullopt;
    std::wstring text = wide(*chars);
    if (text.empty()) return std::string();
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, &lossy);
    if (lossy) return std::nullopt;
    return out;
}

std::string decode(unsigned codePage, const std::string& bytes) {
    if (bytes.empty()) return std::string();
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return encodeUtf8(narrow(text));
}

bool isLeadByte(unsigned codePage, uint8_t byte) { return IsDBCSLeadByteEx(codePage, byte) != 0; }

char32_t upper(char32_t c) {
    if (c >= 0x10000) return c;
    wchar_t w = static_cast<wchar_t>(c);
    CharUpperBuffW(&w, 1);
    return static_cast<char16_t>(w);
}

}  // namespace platform
}  // namespace pkg
