#include "updpack/regions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>

#include "pkg/update.h"
#include "updpack/commands.h"

namespace updpack {
namespace {

// True when the n bytes at `pattern` occur exactly once in `data`.
bool occursOnce(const pkg::Bytes& data, const uint8_t* pattern, size_t n) {
    std::boyer_moore_horspool_searcher search(pattern, pattern + n);
    auto first = std::search(data.begin(), data.end(), search);
    return first != data.end() && std::search(first + 1, data.end(), search) == data.end();
}

// Printable ASCII goes into a text pattern; anything else into pattern_bytes.
bool printable(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

std::string tomlText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char digits[4];
    for (size_t k = 0; k < bytes.size(); k++) {
        std::snprintf(digits, sizeof digits, k ? " %02X" : "%02X", bytes[k]);
        out += digits;
    }
    return out;
}

}  // namespace

std::vector<RegionProposal> proposeRegions(const std::vector<const pkg::Bytes*>& copies, std::string& why) {
    const pkg::Bytes& first = *copies[0];
    size_t size = first.size();
    // The ranges where some copy differs from the first, close ones merged.
    std::vector<std::pair<size_t, size_t>> ranges;
    size_t differing = 0;
    for (size_t i = 0; i < size; i++) {
        bool same = true;
        for (const pkg::Bytes* c : copies) same = same && (*c)[i] == first[i];
        if (same) continue;
        differing++;
        if (!ranges.empty() && i - ranges.back().second < kMergeGap)
            ranges.back().second = i + 1;
        else
            ranges.push_back({i, i + 1});
    }
    if (ranges.size() > kMaxRegions || differing * 2 > size) {
        why = std::to_string(differing) + " of " + std::to_string(size) + " bytes differ in " +
              std::to_string(ranges.size()) + " places: too widely for preserved regions";
        return {};
    }
    std::vector<RegionProposal> out;
    size_t previousEnd = 0;
    for (const auto& range : ranges) {
        size_t start = range.first, end = range.second;
        // Longer runs ending at `start` occur at fewer places, so the
        // shortest unique one is found by bisection.
        size_t most = std::min(kMaxPattern, start - previousEnd);
        auto unique = [&](size_t k) {
            for (const pkg::Bytes* c : copies)
                if (!occursOnce(*c, first.data() + start - k, k)) return false;
            return true;
        };
        RegionProposal r;
        if (most > 0 && unique(most)) {
            size_t lo = 1, hi = most;
            while (lo < hi) {
                size_t mid = (lo + hi) / 2;
                if (unique(mid)) hi = mid;
                else lo = mid + 1;
            }
            // Every longer run ending at `start` is unique as well. A text
            // pattern stays text: it grows no further than its line.
            auto printable = [](uint8_t b) { return b >= 0x20 && b < 0x7F; };
            bool text = std::all_of(first.begin() + (start - lo), first.begin() + start, printable);
            while (lo < std::min(kPreferredPattern, most) && (!text || printable(first[start - lo - 1]))) lo++;
            r.pattern.assign(first.begin() + (start - lo), first.begin() + start);
            r.offset = static_cast<uint32_t>(start - lo);
        } else {
            r.offset = static_cast<uint32_t>(start);
        }
        r.length = static_cast<uint32_t>(end - r.offset);
        out.push_back(std::move(r));
        previousEnd = end;
    }
    return out;
}

std::string regionsToml(const std::vector<std::string>& folders) {
    namespace fs = std::filesystem;
    std::vector<pkg::FileSet> sets;
    pkg::FolderOptions anyNames;  // installations, whatever code page their names need
    anyNames.codePage.reset();
    for (const std::string& f : folders) {
        if (!fs::is_directory(f)) throw std::runtime_error(f + ": no such folder");
        sets.push_back(pkg::scanFolder(f, anyNames).files);
    }
    std::set<std::string> paths;
    for (const auto& set : sets)
        for (const auto& [path, bytes] : set) paths.insert(path);

    std::string out = "# Preserved regions proposed by updpack from " + std::to_string(folders.size()) +
                      " installations of one version. The patterns must lie just as\n"
                      "# well in the other old versions' copies of each file; check before you build.\n";
    size_t proposed = 0;
    for (const std::string& path : paths) {
        std::vector<const pkg::Bytes*> copies;
        for (const auto& set : sets)
            if (auto it = set.find(path); it != set.end()) copies.push_back(&it->second);
        std::string name = path;
        std::replace(name.begin(), name.end(), '\\', '/');
        if (copies.size() < sets.size()) {
            out += "\n# " + name + ": only " + std::to_string(copies.size()) + " of the installations hold it\n";
            continue;
        }
        if (std::all_of(copies.begin(), copies.end(), [&](const pkg::Bytes* c) { return *c == *copies[0]; }))
            continue;
        bool sameLength = std::all_of(copies.begin(), copies.end(),
                                      [&](const pkg::Bytes* c) { return c->size() == copies[0]->size(); });
        if (!sameLength) {
            std::string sizes;
            for (const pkg::Bytes* c : copies) sizes += (sizes.empty() ? "" : ", ") + std::to_string(c->size());
            out += "\n# " + name + ": the copies differ in length (" + sizes +
                   " bytes); regions need copies of one length\n";
            continue;
        }
        std::string why;
        std::vector<RegionProposal> regions = proposeRegions(copies, why);
        if (regions.empty()) {
            out += "\n# " + name + ": " + why + "\n";
            continue;
        }
        // A name holding glob characters would match more than this file.
        bool exact = name.find_first_of("*?") == std::string::npos;
        std::string lead = exact ? "" : "# ";
        out += "\n";
        if (!exact) out += "# " + name + ": its name holds '*' or '?', which a files glob cannot name exactly\n";
        out += lead + "[[update.rule]]\n" + lead + "files = " + tomlText(name) + "\n" + lead + "regions = [\n";
        for (const RegionProposal& r : regions) {
            if (r.pattern.empty())
                out += lead + "  { offset = " + std::to_string(r.offset) + ", length = " + std::to_string(r.length) + " },";
            else if (printable(r.pattern))
                out += lead + "  { pattern = " + tomlText(std::string(r.pattern.begin(), r.pattern.end())) +
                       ", length = " + std::to_string(r.length) + " },";
            else
                out += lead + "  { pattern_bytes = \"" + hex(r.pattern) + "\", length = " + std::to_string(r.length) + " },";
            out += "  # bytes " + std::to_string(r.offset) + "-" + std::to_string(r.offset + r.length - 1) +
                   (r.pattern.empty() ? ", no unique pattern before them" : "") + "\n";
        }
        out += lead + "]\n";
        proposed++;
    }
    if (!proposed) out += "\n# No file differs in a way preserved regions could absorb.\n";
    return out;
}

int regions(const std::vector<std::string>& folders) {
    if (folders.size() < 2) {
        std::fprintf(stderr, "updpack regions: give two or more installations of the same version\n");
        return COMMAND_USAGE;
    }
    std::fputs(regionsToml(folders).c_str(), stdout);
    return COMMAND_OK;
}

}  // namespace updpack
