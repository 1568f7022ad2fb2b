// On-disk layouts shared by the stub and the packaging tool.
//
// Map of an installer file:
//
//   0                 stub program, padded to stubSize (65,536) bytes;
//                     its initialised data holds StubHeader and, four bytes
//                     behind it, a 12-byte block starting "QKCV"
//   stubSize          records: PackageRecordHeader + payload, back to back
//   ...               REC_FILE_DATA: header, 32-bit data size D, D bytes
//   end of file       = data-area offset + 4 + D
//                     (optionally followed by an Authenticode certificate
//                     table that the stub's PE header declares)
//
// Every multi-byte value is little-endian. The layouts below are packed and
// their sizes are checked at compile time, so the same header serves the i686
// and x86_64 stubs and the native tool.
#pragma once
#include <stdint.h>

#pragma pack(push, 1)
struct StubHeader {
    char magic[4];       // "QKgT"
    uint16_t marker;     // 0x4829
    uint32_t stubSize;   // offset of the first record; bytes copied on relaunch
    uint16_t reserved1;
    uint32_t reserved2;
    uint16_t reserved3;
    uint16_t startPage;  // 0xFFFF = whole wizard; else the one page to run
};

// The stub's data block: the header, four bytes, then the "QKCV" block.
struct StubData {
    StubHeader header;
    uint8_t gap[4];
    char cvMagic[4];  // "QKCV"
    uint8_t cvRest[8];
};

struct PackageRecordHeader {
    uint16_t tag;
    uint16_t flags;   // bit 0: payload compressed
    uint32_t length;  // payload bytes behind the header
};
#pragma pack(pop)

static_assert(sizeof(StubHeader) == 20, "StubHeader is 20 bytes");
static_assert(__builtin_offsetof(StubHeader, stubSize) == 6, "stubSize at 6");
static_assert(__builtin_offsetof(StubHeader, startPage) == 18, "startPage at 18");
static_assert(__builtin_offsetof(StubData, cvMagic) == 24, "QKCV block 4 bytes behind");
static_assert(sizeof(StubData) == 36, "StubData is 36 bytes");
static_assert(sizeof(PackageRecordHeader) == 8, "record header is 8 bytes");

const uint32_t STUB_SIZE = 0x10000;
const uint16_t START_PAGE_WIZARD = 0xFFFF;

const uint16_t RECORD_COMPRESSED = 1;

enum RecordTag : uint16_t {
    REC_OPTIONS = 0x1234,           // raw 4 bytes: option bits
    REC_DEST_DIR = 0x1235,          // buffer: default destination folder
    REC_FRAME_IMAGE = 0x1236,       // buffer: frame picture
    REC_BACKGROUND_IMAGE = 0x1237,  // buffer: background picture
    REC_TITLE = 0x1238,             // buffer: background title text
    REC_STRING_TABLES = 0x1239,     // u16 count, then (u32 size, stream) each
    REC_SKIPPED = 0x123A,           // never read
    REC_REG_ROOT = 0x123B,          // raw 4 bytes: registry root index
    REC_REG_KEY = 0x123C,
    REC_REG_VALUE = 0x123D,
    REC_INI_FILE = 0x123E,
    REC_INI_SECTION = 0x123F,
    REC_INI_KEY = 0x1240,
    REC_TEMPLATES = 0x1241,         // buffer: template blob
    REC_FILE_TABLE = 0x1242,        // buffer: u32 count, FileEntry records
    REC_START_PAGE = 0x1243,        // raw 2 bytes; marks the package complete
    REC_TITLE_FONT = 0x1245,        // buffer: title font description
    REC_FILE_DATA = 0x7F7F          // u32 size D, D bytes; always last
};

const uint32_t OPT_FULL_SCREEN = 1;
// Every new file is built and proven under its temporary name before any
// target is replaced or deleted; a failure or Cancel before that changes
// nothing (engine/install.h).
const uint32_t OPT_ALL_OR_NOTHING = 2;

// PE fields that signing rewrites; the binding key reads them as zero.
// Offsets are relative to the PE signature ("PE\0\0") whose offset stands at
// 0x3C of the file.
const uint32_t PE_OFFSET_FIELD = 0x3C;
const uint32_t PE_CHECKSUM_OFFSET = 4 + 20 + 64;  // signature + file header + 64
// The certificate-table directory entry (index 4) sits at 128 bytes into the
// optional header of PE32 and at 144 bytes into that of PE32+.
const uint32_t PE_SECURITY_DIR_PE32 = 4 + 20 + 128;
const uint32_t PE_SECURITY_DIR_PE32PLUS = 4 + 20 + 144;
const uint16_t PE_MAGIC_PE32 = 0x10B;
const uint16_t PE_MAGIC_PE32PLUS = 0x20B;
