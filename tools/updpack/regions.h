// updpack regions: preserved regions proposed from several installations of
// one version. Where the copies of a file differ only in some byte ranges
// (a serial number, a user name), each range becomes a region located by
// a run of bytes that ends right where the range starts, is the same in every
// copy and occurs exactly once in each: the shortest such run, lengthened to
// kPreferredPattern bytes where the copies allow (a longer pattern is less
// likely to turn up earlier in another version's copy; a text pattern
// stays within its line), at most kMaxPattern;
// the region then starts at that run and covers it and the range. Without
// such a run the region keeps the range's fixed offset.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pkg/writer.h"

namespace updpack {

const size_t kMaxPattern = 32;
const size_t kPreferredPattern = 8;
// Differing ranges closer than this become one region.
const size_t kMergeGap = 8;
// More regions than this, or more than half the file differing, is no
// longer a per-installation field: the file is reported, not proposed.
const size_t kMaxRegions = 32;

struct RegionProposal {
    uint32_t offset = 0;           // where the region starts (the pattern, when there is one)
    uint32_t length = 0;
    std::vector<uint8_t> pattern;  // empty: a fixed offset
};

// Regions for copies of one file of equal length; `why` says why there are
// none when the copies differ but no proposal fits.
std::vector<RegionProposal> proposeRegions(const std::vector<const pkg::Bytes*>& copies, std::string& why);

// The proposals for every file of the folders, as [[update.rule]] tables the
// project reader takes; what cannot be proposed appears as comments.
std::string regionsToml(const std::vector<std::string>& folders);

}  // namespace updpack
