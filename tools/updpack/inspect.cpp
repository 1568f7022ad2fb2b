// updpack inspect (what an installer holds) and checksum.
//
// inspect reads an installer the way its stub does: the installer's own
// record loader (loadPackage) decides whether the package is sound and fills
// the installer state, and everything shown of texts, templates and the file
// table comes from that state through the installer's own accessors. Only the
// record listing, the sizes of the buffers the state keeps no size for, and
// the data area (which the stub reads later, while installing) are walked
// here, every step checked against the bytes at hand.
//
// Texts and names are shown in UTF-8, read in the code page the package
// records (1252 when it records none); a byte that begins no character of
// it is shown as an escape.
//
// A package the loader refuses, or one whose chain cannot be walked, throws
// std::runtime_error with the reason; nothing is ever read out of bounds.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

#include "package/checksum.h"
#include "engine/delta.h"
#include "package/filetable.h"
#include "package/codepage.h"
#include "package/bitmap.h"
#include "package/dialogs.h"
#include "package/inflate.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "package/templates.h"
#include "pkg/codepage.h"
#include "pkg/stub.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/inspect.h"

namespace updpack {

// The code page the package's texts are read in.
pkg::CodePage packageCodePage;

// Package bytes quoted for one line: control and 8-bit bytes as escapes.
std::string quotedBytes(const char* text, size_t limit) {
    std::string out = "\"";
    for (size_t k = 0; k < limit && text[k]; k++) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '"' || c == '\\') out += std::string("\\") + char(c);
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// A package text quoted for one line, in UTF-8: each character of the
// package's code page as itself; control characters, quotes, backslashes
// and bytes that begin no character as quotedBytes shows them.
std::string quoted(const char* text) {
    std::string out = "\"";
    for (size_t k = 0; text[k];) {
        size_t n = packageCodePage.isLeadByte(static_cast<uint8_t>(text[k])) && text[k + 1] ? 2 : 1;
        std::string one(text + k, n);
        std::string utf8 = static_cast<unsigned char>(text[k]) < 0x80 ? "" : packageCodePage.toUtf8(one);
        if (utf8.empty() || utf8 == "\xEF\xBF\xBD") {
            std::string escaped = quotedBytes(one.c_str());
            out += escaped.substr(1, escaped.size() - 2);
        } else {
            out += utf8;
        }
        k += n;
    }
    return out + "\"";
}

// A UTF-8 text (a template's caption) quoted the same way.
std::string quotedUtf8(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            out += ch;
        } else {
            std::string escaped = quotedBytes(std::string(1, ch).c_str());
            out += c ? escaped.substr(1, escaped.size() - 2) : "\\x00";
        }
    }
    return out + "\"";
}

namespace {


// What each template number is for; 8 is never a template.
const char* const kTemplateNames[10] = {
    "wizard frame, windowed", "wizard frame, full screen", "page 2, destination", "page 1, information",
    "page 4, progress", "pages 0 and 3, welcome and confirmation", "page 5, result",
    "folder browse (save-file dialog)", "(unused)", "files in another folder"};

// Registry root keys by registryRoot; 4 and above read the current user's.
const char* const kRegistryRoots[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                       "HKEY_USERS"};

// The installer state for one inspection, released on every path out.
class LoadedState {
public:
    explicit LoadedState(const std::string& path) {
        state = InstallerState();
        state.dataFile = INVALID_FILE;
        stubData.header.stubSize = STUB_SIZE;
        stubData.header.startPage = START_PAGE_WIZARD;
        if (!allocateTextBuffers()) throw std::runtime_error("out of memory");
        if (path.size() > 259) throw std::runtime_error(path + ": path longer than the installer takes");
        copyText(state.sourcePath, path.c_str());
    }
    ~LoadedState() {
        releasePackageData();
        releaseSessionBuffers();
        leadByteFlags = nullptr;
    }
    // The names are checked in the package's code page.
    void readNamesIn(const pkg::CodePage& codePage) {
        leadBytes_ = codePage.leadBytes();
        leadByteFlags = leadBytes_.data();
    }

private:
    std::array<uint8_t, 256> leadBytes_{};
};

void printRecords(const Walk& w) {
    std::printf("records:\n");
    for (const RecordAt& r : w.records) {
        std::printf("  %08zX  %04X %-17s flags %X  length %10s", r.offset, r.header.tag, tagName(r.header.tag),
                    r.header.flags, grouped(r.header.length).c_str());
        if (r.decodedSize && (r.header.flags & RECORD_COMPRESSED))
            std::printf("  (decodes to %s)", grouped(*r.decodedSize).c_str());
        std::printf("\n");
    }
}

std::string describeImage(const pkg::Bytes& b) {
    std::string shape = grouped(b.size()) + " bytes";
    if (b.size() >= 30) {
        char text[120];
        std::snprintf(text, sizeof text, ", %d x %d, %u bits per pixel", static_cast<int32_t>(get32(&b[18])),
                      static_cast<int32_t>(get32(&b[22])), get16(&b[28]));
        shape += text;
    }
    if (!checkBitmap(b.data(), static_cast<uint32_t>(b.size())))
        shape += ": not drawn (no uncompressed BMP whose header, colours and rows lie within its record)";
    return shape;
}

std::string describeFont(const pkg::Bytes& b) {
    // A LOGFONTA: five 32-bit values (height, width, escapement, orientation,
    // weight), eight bytes (italic, underline, strike-out, character set,
    // precisions, quality, pitch), then a 32-byte face name.
    if (b.size() != TITLE_FONT_SIZE)
        return grouped(b.size()) + " bytes, not a font description (" + std::to_string(TITLE_FONT_SIZE) +
               "): no title is drawn";
    char face[33] = {0};
    std::memcpy(face, &b[28], 32);
    char text[200];
    std::snprintf(text, sizeof text, "%s, height %d, weight %d%s%s, character set %u", quoted(face).c_str(),
                  static_cast<int32_t>(get32(&b[0])), static_cast<int32_t>(get32(&b[16])), b[20] ? ", italic" : "",
                  b[21] ? ", underlined" : "", b[23]);
    return text;
}

void printSettings(const Walk& w) {
    auto text = [](const char* t) { return t ? quoted(t) : std::string("(none)"); };
    auto has = [&](uint16_t tag) {
        for (const RecordAt& r : w.records)
            if (r.header.tag == tag) return true;
        return false;
    };
    std::printf("settings:\n");
    std::printf("  options           %08X (%s, %s)\n", state.options,
                state.options & OPT_FULL_SCREEN ? "full screen" : "windowed",
                state.options & OPT_ALL_OR_NOTHING ? "all or nothing" : "file by file");
    if (!w.codePage)
        std::printf("  code page         none recorded: texts read as %u\n", packageCodePage.number());
    else if (*w.codePage != packageCodePage.number())
        std::printf("  code page         %u, no ANSI code page of Windows: texts read as %u\n", *w.codePage,
                    packageCodePage.number());
    else
        std::printf("  code page         %u\n", *w.codePage);
    std::printf("  destination       %s\n", quoted(state.destinationDir).c_str());
    if (has(REC_REG_ROOT) || state.registrySubKey || state.registryValue)
        std::printf("  registry          %s \\ %s, value %s\n",
                    kRegistryRoots[state.registryRoot < 4 ? state.registryRoot : 1], text(state.registrySubKey).c_str(),
                    text(state.registryValue).c_str());
    else
        std::printf("  registry          (none)\n");
    if (state.iniFile || state.iniSection || state.iniKey)
        std::printf("  INI               file %s, section %s, key %s\n", text(state.iniFile).c_str(),
                    text(state.iniSection).c_str(), text(state.iniKey).c_str());
    else
        std::printf("  INI               (none)\n");
    std::printf("  title             %s\n", text(state.titleText).c_str());
    auto buffer = [&](uint16_t tag) -> const pkg::Bytes* {
        auto it = w.buffers.find(tag);
        return it == w.buffers.end() ? nullptr : &it->second;
    };
    const pkg::Bytes* font = buffer(REC_TITLE_FONT);
    std::printf("  title font        %s\n", font ? describeFont(*font).c_str() : "(none)");
    const pkg::Bytes* frame = buffer(REC_FRAME_IMAGE);
    std::printf("  frame image       %s\n", frame ? describeImage(*frame).c_str() : "(none)");
    const pkg::Bytes* background = buffer(REC_BACKGROUND_IMAGE);
    std::printf("  background image  %s\n", background ? describeImage(*background).c_str() : "(none)");
    uint16_t page = stubData.header.startPage;
    if (page == START_PAGE_WIZARD)
        std::printf("  start page        whole wizard (FFFF)%s\n", has(REC_START_PAGE) ? "" : ", no record");
    else
        std::printf("  start page        only page %u\n", page);
}

// The texts as getString finds them: a 16-bit count, then that many
// NUL-terminated texts; a text that would start past the table reads as
// empty, and so does every later one. getString walks from the first text
// on every call; this is the same walk made once, so that a hostile table
// of 65,535 texts costs no more than a sound one.
void printTexts() {
    std::printf("texts:\n");
    for (unsigned t = 0; t < TEXT_TABLE_COUNT; t++) {
        const uint8_t* table = reinterpret_cast<const uint8_t*>(state.stringTables[t]);
        uint32_t size = state.stringTableSizes[t];
        if (!table) {
            std::printf("  table %u: none\n", t);
            continue;
        }
        unsigned count = size >= 2 ? get16(table) : 0;
        std::printf("  table %u: %u texts, %s bytes\n", t, count, grouped(size).c_str());
        // The loader leaves a NUL behind every table: a text that starts
        // inside it ends inside the block.
        uint32_t pos = 2;
        for (unsigned i = 0; i < count; i++) {
            if (pos >= size) {
                std::printf("    texts %u.%u to %u.%u lie past the end of the table\n", t, i, t, count - 1);
                break;
            }
            const char* s = reinterpret_cast<const char*>(table + pos);
            std::printf("    %u.%-4u %s\n", t, i, quoted(s).c_str());
            pos += static_cast<uint32_t>(std::strlen(s)) + 1;
        }
    }
}

// A UTF-16 string of a dialog template, as far as it lies within `end`.
std::string templateString(const uint8_t* p, const uint8_t* end) {
    std::string s;
    for (; end - p >= 2 && get16(p); p += 2) {
        uint16_t c = get16(p);
        s += pkg::encodeUtf8(std::u32string(1, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c));
    }
    return s;
}

// Each template as the stub's walk sees it (walkDialogTemplate): one the
// walk refuses counts as missing, and the installer says so.
void printTemplates() {
    std::printf("templates:\n");
    const uint8_t* blob = state.templateBlob;
    uint32_t size = state.templateBlobSize;
    if (!blob || size < 4) {
        std::printf("  none\n");
        return;
    }
    uint32_t first = get32(blob);
    unsigned count = (first < size ? first : size) / 4;
    std::printf("  %s bytes, %u template numbers\n", grouped(size).c_str(), count);
    for (unsigned n = 0; n < count; n++) {
        const char* name = n < 10 ? kTemplateNames[n] : "(not used by the installer)";
        uint32_t offset = get32(blob + 4 * n);
        if (offset >= size) {
            std::printf("  %2u  %-40s offset %08X outside the blob\n", n, name, offset);
            continue;
        }
        uint32_t length = std::min(size - offset, TEMPLATE_COPY_SIZE);
        DialogShape shape{};
        uint32_t used = describeDialogTemplate(blob + offset, length, &shape);
        std::string what;
        if (!used) {
            what = "damaged: its parts do not lie within the " + grouped(length) +
                   " bytes a copy holds (the installer takes it as missing)";
        } else {
            char text[200];
            std::string caption = templateString(blob + offset + shape.caption, blob + offset + used);
            std::snprintf(text, sizeof text, "%s%u controls, %d x %d units, style %08X, caption %s",
                          shape.extended ? "extended, " : "", shape.items, shape.width, shape.height, shape.style,
                          quotedUtf8(caption).c_str());
            what = text;
        }
        std::printf("  %2u  %-40s at %6u, %5s bytes: %s\n", n, name, offset, grouped(used ? used : length).c_str(),
                    what.c_str());
    }
}

}  // namespace

int inspect(const std::string& path, unsigned sections) {
    LoadedState loaded(path);
    Walk w = walkRecords(path);
    packageCodePage = pkg::CodePage();
    try {
        if (w.codePage) packageCodePage = pkg::CodePage(*w.codePage);
    } catch (const pkg::CodePageError&) {
        // shown as the default, and said so in the settings
    }
    loaded.readNamesIn(packageCodePage);
    std::printf("%s: %s bytes, stub %s bytes, binding key %08X\n", path.c_str(), grouped(w.file.size()).c_str(),
                grouped(w.stubSize).c_str(),
                pkg::stubBindingKey(pkg::Bytes(w.file.begin(), w.file.begin() + STUB_SIZE)));
    if (sections & INSPECT_RECORDS) printRecords(w);
    if (!w.problem.empty()) throw std::runtime_error(path + ": " + w.problem);

    if (loadPackage() != LOAD_OK) {
        std::string why = "the installer would refuse it";
        if (state.fileTable && !state.firstEntry) why = "its file table does not hold together";
        else if (w.dataRecord) {
            uint32_t size = get32(&w.file[*w.dataRecord]);
            uint64_t end = *w.dataRecord + 4 + uint64_t(size);
            if (end != w.file.size())
                why = "its data area (" + grouped(size) + " bytes at " + std::to_string(*w.dataRecord) + ") " +
                      (end > w.file.size() ? "is cut short" : "is followed by other bytes") +
                      " and it has no start-page record";
        }
        throw std::runtime_error(path + ": incomplete or damaged: " + why);
    }
    if (sections & INSPECT_RECORDS) printSettings(w);
    if (sections & INSPECT_TEXTS) printTexts();
    if (sections & INSPECT_TEMPLATES) printTemplates();
    // The data the entries use must all be at hand (volume files
    // included): otherwise the installer cannot run as it is.
    DataArea area = readDataArea(path, w);
    uint64_t used = printFiles(area, sections & INSPECT_FILES);
    if (sections & INSPECT_DATA) printData(area, used);
    if (used > area.bytes.size()) {
        std::fflush(stdout);
        throw std::runtime_error(path + ": the entries use " + grouped(used) + " bytes of data, but only " +
                                 grouped(area.bytes.size()) + " are at hand" +
                                 (area.firstMissing.empty() ? "" : "; missing: " + area.firstMissing));
    }
    return COMMAND_OK;
}

std::string grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t k = 0; k < digits.size(); k++) {
        if (k && (digits.size() - k) % 3 == 0) out += ',';
        out += digits[k];
    }
    return out;
}

int checksum(const std::vector<std::string>& files) {
    for (const auto& f : files) {
        pkg::Bytes data = pkg::readFile(f);
        if (data.size() > 0x7FFFFFFF) throw std::runtime_error(f + ": files must stay below 2 GiB");
        std::printf("%08X  %10zu  %s\n", fileChecksum(data.data(), static_cast<uint32_t>(data.size()), 0),
                    data.size(), f.c_str());
    }
    return COMMAND_OK;
}

}  // namespace updpack
