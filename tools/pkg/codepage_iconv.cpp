// The code-page conversion natively: the C library's iconv (glibc's
// converters "CP1252", "CP932", ...) and the upper case of its C.UTF-8
// locale.
#include <errno.h>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include "pkg/codepage.h"

namespace pkg {
namespace platform {
namespace {

// One conversion descriptor for one call; iconv_t keeps state.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw CodePageError("the C library cannot convert from " + from + " to " + to +
                                " (its iconv modules, gconv, are missing)");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    iconv_t handle() const { return cd_; }

    // Converts in[at..]; returns false at a byte sequence it cannot take,
    // leaving `at` there and what came before it in out. At the end of the
    // input the converter gives up what it holds back (a code page that
    // joins a letter and its accent waits for the accent).
    bool run(const std::string& in, size_t& at, std::string& out) {
        char buffer[256];
        bool flushed = false;
        while (!flushed) {
            char* src = const_cast<char*>(in.data()) + at;
            size_t left = in.size() - at;
            char* dst = buffer;
            size_t room = sizeof buffer;
            bool flushing = left == 0;
            size_t r = flushing ? iconv(cd_, nullptr, nullptr, &dst, &room) : iconv(cd_, &src, &left, &dst, &room);
            int error = errno;
            if (!flushing) at = in.size() - left;
            out.append(buffer, dst);
            if (r != static_cast<size_t>(-1)) {
                flushed = flushing;
                continue;
            }
            if (error == E2BIG) continue;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
            return false;
        }
        return true;
    }

private:
    iconv_t cd_;
};

std::string name(unsigned codePage) { return "CP" + std::to_string(codePage); }

}  // namespace

std::optional<std::string> encode(unsigned codePage, const std::string& utf8) {
    Converter c(name(codePage), "UTF-8");
    std::string out;
    size_t at = 0;
    if (!c.run(utf8, at, out)) return std::nullopt;
    return out;
}

std::string decode(unsigned codePage, const std::string& bytes) {
    Converter c("UTF-8", name(codePage));
    std::string out;
    size_t at = 0;
    while (!c.run(bytes, at, out)) {
        out += "\xEF\xBF\xBD";  // U+FFFD
        at++;
    }
    return out;
}

bool isLeadByte(unsigned codePage, uint8_t byte) {
    // A lead byte alone is an incomplete character, not a wrong one.
    Converter c("UTF-8", name(codePage));
    char in = static_cast<char>(byte);
    char* src = &in;
    size_t left = 1;
    char buffer[16];
    char* dst = buffer;
    size_t room = sizeof buffer;
    return iconv(c.handle(), &src, &left, &dst, &room) == static_cast<size_t>(-1) && errno == EINVAL;
}

char32_t upper(char32_t c) {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) throw CodePageError("the C library has no C.UTF-8 locale to upper-case names with");
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8));
}

}  // namespace platform
}  // namespace pkg
