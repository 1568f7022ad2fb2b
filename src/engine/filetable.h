// TEMPORARY until the file-table work lands.
#pragma once
#include <stdint.h>
struct FileEntry;
bool checkFileTable(const uint8_t* table, uint32_t size);
