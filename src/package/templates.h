// Where template `number` lies in the template blob: its offset and the bytes
// to copy (the rest of the blob, at most one 16,384-byte copy block). False
// when the blob's index has no such entry, the entry points outside the
// blob, or the template (header, items, strings, creation data) does not
// lie within those bytes: such a template counts as missing.
#pragma once
#include <stdint.h>

bool templateSpan(unsigned number, uint32_t* offset, uint32_t* length);
