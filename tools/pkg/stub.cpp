#include "pkg/stub.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "package/binding.h"

namespace pkg {

Bytes readFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw std::runtime_error(path + ": no such file");
    if (fs::is_directory(status)) throw std::runtime_error(path + ": a folder, not a file");
    uintmax_t size = fs::file_size(path, ec);
    // Files, installers and volumes stay below 2 GiB; a larger one is
    // refused before a byte of it is read.
    if (!ec && size > FILE_SIZE_LIMIT)
        throw std::runtime_error(path + ": " + std::to_string(size) + " bytes; files must stay below 2 GiB");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    Bytes data(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throw std::runtime_error(path + ": cannot read: " + std::strerror(errno));
    return data;
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
}

long findStubHeader(const Bytes& stub) {
    static const uint8_t magic[6] = {'Q', 'K', 'g', 'T', 0x29, 0x48};
    for (size_t i = 0; i + sizeof(StubData) <= stub.size(); i++)
        if (std::memcmp(stub.data() + i, magic, sizeof magic) == 0 &&
            std::memcmp(stub.data() + i + 24, "QKCV", 4) == 0)
            return static_cast<long>(i);
    return -1;
}

Bytes loadStub(const std::string& path) {
    Bytes stub = readFile(path);
    if (stub.size() < STUB_SIZE)
        throw std::runtime_error(path + ": not a stub (" + std::to_string(stub.size()) +
                                 " bytes, expected 65536)");
    // An installer also starts with its stub: take the first 65,536 bytes.
    stub.resize(STUB_SIZE);
    long at = findStubHeader(stub);
    if (at < 0) throw std::runtime_error(path + ": no stub header found");
    StubHeader h;
    std::memcpy(&h, stub.data() + at, sizeof h);
    if (h.stubSize != STUB_SIZE) throw std::runtime_error(path + ": stub header gives a size other than 65536");
    return stub;
}

uint32_t stubBindingKey(const Bytes& stub) {
    return computeBinding(stub.data(), static_cast<uint32_t>(stub.size())).key;
}

}  // namespace pkg
