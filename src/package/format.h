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

// A picture record (PackageBitmap) is the image of a BMP file: a 14-byte
// file header, this 40-byte info header, the colour table (clrUsed entries
// of 4 bytes, or 2^bitCount for 1, 4 and 8 bits per pixel), then the rows,
// bottom-up, each padded to a multiple of 4 bytes.
struct BitmapInfoHeader {
    uint32_t size;  // 40
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;  // 0: uncompressed
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
#pragma pack(pop)

static_assert(sizeof(StubHeader) == 20, "StubHeader is 20 bytes");
static_assert(__builtin_offsetof(StubHeader, stubSize) == 6, "stubSize at 6");
static_assert(__builtin_offsetof(StubHeader, startPage) == 18, "startPage at 18");
static_assert(__builtin_offsetof(StubData, cvMagic) == 24, "QKCV block 4 bytes behind");
static_assert(sizeof(StubData) == 36, "StubData is 36 bytes");
static_assert(sizeof(PackageRecordHeader) == 8, "record header is 8 bytes");
static_assert(sizeof(BitmapInfoHeader) == 40, "BMP info header is 40 bytes");
static_assert(__builtin_offsetof(BitmapInfoHeader, bitCount) == 14, "bitCount at 14");
static_assert(__builtin_offsetof(BitmapInfoHeader, clrUsed) == 32, "clrUsed at 32");

const uint32_t BITMAP_FILE_HEADER_SIZE = 14;
// The title font record holds exactly one Win32 LOGFONTA.
const uint32_t TITLE_FONT_SIZE = 60;

const uint32_t STUB_SIZE = 0x10000;
const uint16_t START_PAGE_WIZARD = 0xFFFF;

const uint16_t RECORD_COMPRESSED = 1;

// The file-data record's header is followed by the 32-bit data size D and D
// bytes; the data area starts FILE_DATA_PREFIX bytes behind the record.
const uint32_t DATA_SIZE_WORD = 4;
const uint32_t FILE_DATA_PREFIX = sizeof(PackageRecordHeader) + DATA_SIZE_WORD;
static_assert(FILE_DATA_PREFIX == 12, "file-data record: header and size word");

// A data area too large for one file continues in volume files beside the
// package: the package path with its extension replaced by ".D" and the
// volume number, two digits at least (".D01" ... ".D99", ".D100" ...). A
// volume holds a size word (DATA_SIZE_WORD) and that many bytes. The
// printf-style formats of the extension below 10 and from 10 on:
const char* const VOLUME_EXTENSION_BELOW_10 = ".D0%d";
const char* const VOLUME_EXTENSION = ".D%d";

// The largest buffer one record (or one string table) may declare: 64 MiB.
// The largest buffers a package carries are pictures and the file table: a
// full-screen picture at 3840 x 2160 and 32 bits per pixel takes 33 MB, and
// 64 MiB of file table hold more than 100,000 entries with long names and
// several known versions each. updpack refuses to write a larger buffer, so
// every package it makes fits; the loader refuses one before allocating, so
// a crafted size can never make the stub ask for gigabytes.
const uint32_t RECORD_BUFFER_MAX = 64u << 20;

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
    REC_CODE_PAGE = 0x1260,         // raw 4 bytes: the ANSI code page the texts and
                                    // names are written in; for updpack, the stub
                                    // skips it (any tag it does not know)
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
