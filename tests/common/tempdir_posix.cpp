// TempDir on POSIX: a mkdtemp folder under /tmp, joined with '/'.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common.h"

namespace testcommon {

TempDir::TempDir() {
    char pattern[] = "/tmp/updtest.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::path(const std::string& name) const { return dir_ + "/" + name; }

std::string TempDir::write(const std::string& name, const Bytes& data) const {
    std::string p = path(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + p);
    return p;
}

}  // namespace testcommon
