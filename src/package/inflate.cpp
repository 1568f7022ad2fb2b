// Placeholder: stored blocks only, until the full decoder lands.
#include "package/inflate.h"

#include <string.h>

static bool decodeStored(uint8_t* dest, uint32_t capacity, FileHandle out, FileHandle input) {
    uint32_t written = 0;
    for (;;) {
        uint8_t head[3];
        if (readExact(input, head, 3)) return false;
        if ((head[0] & 7) != 7) return false;
        uint32_t len = head[1] | (head[2] << 8);
        uint8_t buf[4096];
        while (len) {
            uint32_t n = len < sizeof buf ? len : sizeof buf;
            if (readExact(input, buf, n)) return false;
            if (dest) {
                if (written + n > capacity) return false;
                memcpy(dest + written, buf, n);
            } else if (writeAll(out, buf, n)) {
                return false;
            }
            written += n;
            len -= n;
        }
        if (head[0] & 8) return true;
    }
}

bool decodeToMemory(void* destination, uint32_t capacity, FileHandle input, uint32_t limit) {
    if (!destination || input == INVALID_FILE) return false;
    return decodeStored(static_cast<uint8_t*>(destination), capacity, INVALID_FILE, input);
}

bool decodeToFile(FileHandle output, FileHandle input, uint32_t limit) {
    if (input == INVALID_FILE) return false;
    return decodeStored(0, 0, output, input);
}
