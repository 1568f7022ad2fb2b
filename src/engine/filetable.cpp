// TEMPORARY until the file-table work lands.
#include "engine/filetable.h"
bool checkFileTable(const uint8_t* table, uint32_t size) { return size >= 4; }
