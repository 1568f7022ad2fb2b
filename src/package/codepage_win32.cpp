#include <windows.h>

#include "package/codepage.h"

bool isLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0; }
