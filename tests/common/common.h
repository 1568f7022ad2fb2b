// Helpers shared by the native tests, the Windows tests and the native
// helpers that hand packages over to them, all in `testcommon`:
// - generators: the same seed always gives the same bytes (tests compare
//   sizes and contents that depend on it), on every platform;
// - TempDir: a fresh folder removed with everything in it when the object
//   goes; path() joins with the platform's separator (tempdir_posix.cpp,
//   tempdir_win32.cpp);
// - text() and failure(): bytes of a string, the message of a throwing call.
// Nothing here touches the installer's state.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testcommon {

using Bytes = std::vector<uint8_t>;

// n bytes of noise: the top byte of each step of a linear congruential
// sequence started at `seed`.
Bytes noise(size_t n, uint32_t seed);

// Code-like bytes: 8-byte instruction records (mov, a register byte, call)
// each with a 32-bit address into one of `slots` slots (a power of two);
// `shift` moves the addresses of the upper half of the slots, as a relink
// does. The register byte takes the top `registerBits` bits of the step.
Bytes codeLike(size_t n, uint32_t seed, uint32_t shift = 0, uint32_t slots = 0x10000, unsigned registerBits = 4);

// Text of words drawn from the first `count` entries of `vocabulary`.
Bytes words(size_t n, uint32_t seed, const char* const* vocabulary, size_t count);
// A vocabulary with Windows line ends: "alpha ", "beta ", "gamma\r\n",
// "delta ", "update ", "file ", "the ", "installer ", "volume ", "stream ".
extern const char* const kWindowsWords[10];

Bytes text(const std::string& s);

// The message of what `f` throws; "" when it returns.
std::string failure(const std::function<void()>& f);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const;
    // Writes `data` as the file `name` (replacing it); returns its path.
    std::string write(const std::string& name, const Bytes& data) const;
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace testcommon
