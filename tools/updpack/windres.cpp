// Dialog layouts of a project: a compiled .res, a .rc script compiled with
// windres, or a ready template blob (see updpack/project.h).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "pkg/resources.h"
#include "pkg/stub.h"
#include "updpack/project.h"

extern char** environ;

namespace fs = std::filesystem;

namespace updpack {

std::string findWindres() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin";
    for (const char* name : {"x86_64-w64-mingw32-windres", "i686-w64-mingw32-windres", "windres"}) {
        size_t at = 0;
        while (at <= dirs.size()) {
            size_t end = dirs.find(':', at);
            if (end == std::string::npos) end = dirs.size();
            fs::path candidate = fs::path(dirs.substr(at, end - at)) / name;
            if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate.string();
            at = end + 1;
        }
    }
    return "";
}

namespace {

// A script is read as UTF-8 unless it names its code page itself: bytes
// that are no UTF-8 are refused at their line, before windres would turn
// them into other letters.
void checkScriptText(const std::string& path) {
    pkg::Bytes bytes = pkg::readFile(path);
    std::string text(bytes.begin(), bytes.end());
    if (text.find("#pragma code_page") != std::string::npos) return;
    size_t lineStart = 0;
    int line = 1;
    for (size_t at = 0; at <= text.size(); at++) {
        if (at < text.size() && text[at] != '\n') continue;
        if (!pkg::decodeUtf8(text.substr(lineStart, at - lineStart)))
            throw ProjectError(path + ":" + std::to_string(line) +
                               ": not UTF-8; save the layouts as UTF-8, or state their code page with "
                               "#pragma code_page(N)");
        lineStart = at + 1;
        line++;
    }
}

// Compiles a .rc script to .res bytes with windres; the script's folder is
// on the include path, so it may include files lying beside it.
pkg::Bytes compileScript(const std::string& path) {
    checkScriptText(path);
    std::string windres = findWindres();
    if (windres.empty())
        throw ProjectError(path + ": a .rc script needs a resource compiler (windres, in Debian's "
                                  "binutils-mingw-w64 and gcc-mingw-w64 packages); install one, or give a "
                                  "compiled .res instead");
    char temp[] = "/tmp/updpack-res-XXXXXX";
    int fd = mkstemp(temp);
    if (fd < 0) throw ProjectError(path + ": cannot create a temporary file for the compiled layouts");
    close(fd);
    std::string include = fs::path(path).parent_path().string();
    if (include.empty()) include = ".";
    // Code page 65001: the script's texts are UTF-8; the templates hold them
    // as UTF-16, whatever code page the installer's users run.
    std::vector<std::string> args = {windres, "-c", "65001", "-O", "res", "-I", include, path, "-o", temp};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    bool ran = posix_spawn(&pid, windres.c_str(), nullptr, nullptr, argv.data(), environ) == 0 &&
               waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    pkg::Bytes res;
    if (ran) res = pkg::readFile(temp);
    fs::remove(temp);
    if (!ran) throw ProjectError(path + ": " + windres + " could not compile the layouts (see its messages above)");
    return res;
}

}  // namespace

pkg::Bytes templateBlobOf(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".rc") return pkg::templateBlobFromDialogs(pkg::dialogResources(compileScript(path), path), path);
    pkg::Bytes file = pkg::readFile(path);
    if (!pkg::isResourceFile(file)) {
        pkg::checkTemplateBlob(file, path);
        return file;
    }
    return pkg::templateBlobFromDialogs(pkg::dialogResources(file, path), path);
}

}  // namespace updpack
