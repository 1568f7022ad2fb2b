#include "package/codepage.h"

const uint8_t* leadByteFlags = 0;

bool isLeadByte(char c) { return leadByteFlags && leadByteFlags[static_cast<uint8_t>(c)]; }
