// Delta interpreter: command decoding, the checking walk, and the build of
// the new file from the old file and the data stream.
#include "engine/delta.h"

#include <string.h>

#include "engine/results.h"
#include "engine/verify.h"

bool readDeltaCommand(const uint8_t** pos, const uint8_t* end, DeltaCommand* command) {
    const uint8_t* p = *pos;
    if (p >= end) return false;
    uint32_t x = *p++;
    command->insertLength = 0;
    command->copyLength = 0;
    command->distance = 0;
    if (x >= 0xA0) {
        command->insertLength = (x >> 5) & 3;
        command->copyLength = (x & 0x1F) + 2;
    } else if (x >= 0x80) {
        command->insertLength = (x & 0x1F) + 1;
    } else if (x != 0) {
        command->copyLength = x + 1;
    } else {
        if (end - p < 2) return false;
        command->copyLength = (p[0] | (uint32_t(p[1]) << 8)) + DELTA_SHORT_COPY_MAX + 1;
        p += 2;
    }
    if (command->copyLength) {
        if (p >= end) return false;
        uint32_t b1 = *p++;
        int32_t v;
        if ((b1 & 0xC0) == 0x80) {
            v = static_cast<int32_t>(b1 & 0x3F);
            if (v & 0x20) v -= 0x40;
            command->distance = v;
        } else if ((b1 & 0x80) == 0) {
            if (p >= end) return false;
            v = static_cast<int32_t>(((b1 & 0x7F) << 8) | *p++);
            if (v & 0x4000) v -= 0x8000;
            command->distance = v >= 0 ? v + DELTA_DISTANCE_1 : v - DELTA_DISTANCE_1;
        } else {
            if (end - p < 2) return false;
            v = static_cast<int32_t>(((b1 & 0x3F) << 16) | (uint32_t(p[0]) << 8) | p[1]);
            p += 2;
            if (v & 0x200000) v -= 0x400000;
            command->distance = v >= 0 ? v + DELTA_DISTANCE_2 : v - DELTA_DISTANCE_2;
        }
    }
    *pos = p;
    return true;
}

uint64_t deltaOutputSize(const uint8_t* commands, uint32_t commandSize) {
    const uint8_t* end = commands + commandSize;
    uint64_t total = 0;
    DeltaCommand c;
    while (readDeltaCommand(&commands, end, &c)) total += c.insertLength + c.copyLength;
    return total;
}

int checkDelta(const DeltaJob* job, uint64_t* copied) {
    uint64_t total = 0;
    const uint8_t* p = job->commands;
    const uint8_t* end = p + job->commandSize;
    uint32_t dataLeft = job->dataSize;
    int64_t oldPos = 0;
    uint64_t built = 0;
    while (p < end) {
        DeltaCommand c;
        if (!readDeltaCommand(&p, end, &c)) return DELTA_BAD;
        if (c.insertLength) {
            if (job->dataSize == 0) return DELTA_NO_DATA;
            if (c.insertLength > dataLeft) return DELTA_BAD;
            dataLeft -= c.insertLength;
        }
        if (c.copyLength) {
            if (c.copyLength > DELTA_COPY_MAX) return DELTA_BAD;
            int64_t from = oldPos + c.distance;
            if (job->oldFile == INVALID_FILE || from < 0 ||
                from + c.copyLength > static_cast<int64_t>(job->oldSize))
                return DELTA_BAD;
            oldPos = from + c.copyLength;
            total += c.copyLength;
        }
        built += c.insertLength + c.copyLength;
    }
    if (copied) *copied = total;
    return built == job->newSize ? DELTA_OK : DELTA_BAD;
}

namespace {

// The old-file read window: DELTA_WINDOW_SIZE bytes, filled DELTA_WINDOW_READ
// bytes at a time from a little before the copy that missed it.
const uint32_t DELTA_WINDOW_SIZE = 2 * DELTA_COPY_MAX;
const uint32_t DELTA_WINDOW_READ = 16384;
const uint32_t DELTA_WINDOW_BACK = 2048;

// The output buffer (which doubles as the copy buffer) and the old-file
// read window of one build.
struct Builder {
    const DeltaJob* job;
    uint8_t* out;
    uint32_t outLength;
    uint32_t flushed;
    uint8_t* window;
    uint32_t windowStart;
    uint32_t windowLength;

    int flush() {
        if (!outLength) return DELTA_OK;
        int w = writeAll(job->output, out, outLength);
        if (w == WRITE_SHORT) return DELTA_WRITE_SHORT;
        if (w != WRITE_OK) return DELTA_WRITE_FAILED;
        flushed += outLength;
        outLength = 0;
        return DELTA_OK;
    }

    int room(uint32_t n) {
        return outLength + n > DELTA_COPY_MAX ? flush() : DELTA_OK;
    }

    // Copies old bytes [from, from + n) to the output; n <= DELTA_COPY_MAX.
    int copy(uint32_t from, uint32_t n) {
        int r = room(n);
        if (r) return r;
        uint8_t* to = out + outLength;
        if (from < windowStart || from + n > windowStart + windowLength) {
            // A miss: read an aligned stretch that starts a little before the
            // copy (sources jump back a little as often as forward) and
            // holds the copy whole; a far jump costs a short read only.
            uint32_t start = (from - (from < DELTA_WINDOW_BACK ? from : DELTA_WINDOW_BACK)) & ~4095u;
            uint32_t want = from - start + n;
            if (want < DELTA_WINDOW_READ) want = DELTA_WINDOW_READ;
            if (want > DELTA_WINDOW_SIZE) {  // a long copy: read it alone
                start = from;
                want = n;
            }
            if (want > job->oldSize - start) want = job->oldSize - start;
            windowStart = start;
            windowLength = 0;
            if (seekTo(job->oldFile, start) != start) return DELTA_OLD_READ;
            windowLength = readSome(job->oldFile, window, want);
            if (windowLength < from - start + n) return DELTA_OLD_READ;
        }
        memcpy(to, window + (from - windowStart), n);
        if (job->regionCount) zeroRegions(job->regionCount, job->regions, to, from, n);
        outLength += n;
        return job->difference ? addDifference(to, n) : DELTA_OK;
    }

    // Adds the next n difference bytes to the copied bytes at `to`.
    int addDifference(uint8_t* to, uint32_t n) {
        DifferenceSource* d = job->difference;
        while (n) {
            if (!d->length) {
                if (d->next(d) != ERR_NONE) return DELTA_SOURCE_FAILED;
                if (!d->length) return DELTA_BAD;
            }
            uint32_t k = n < d->length ? n : d->length;
            for (uint32_t i = 0; i < k; i++) to[i] = static_cast<uint8_t>(to[i] + d->bytes[i]);
            to += k;
            d->bytes += k;
            d->length -= k;
            n -= k;
        }
        return DELTA_OK;
    }
};

}  // namespace

int applyDelta(const DeltaJob* job) {
    uint64_t copied = 0;
    int result = checkDelta(job, &copied);
    if (result) return result;
    if (DifferenceSource* d = job->difference) {
        // The first chunk is loaded before anything is written.
        if (copied != d->size) return DELTA_BAD;
        if (copied && d->next(d) != ERR_NONE) return DELTA_SOURCE_FAILED;
    }

    Builder b;
    b.job = job;
    b.outLength = b.flushed = 0;
    b.windowStart = b.windowLength = 0;
    b.out = static_cast<uint8_t*>(allocBuffer(DELTA_COPY_MAX));
    b.window = static_cast<uint8_t*>(allocBuffer(DELTA_WINDOW_SIZE));
    if (!b.out || !b.window) {
        freeBuffer(b.out);
        freeBuffer(b.window);
        return DELTA_NO_MEMORY;
    }

    const uint8_t* p = job->commands;
    const uint8_t* end = p + job->commandSize;
    const uint8_t* data = job->data;
    uint32_t oldPos = 0;
    while (p < end && result == DELTA_OK) {
        DeltaCommand c;
        readDeltaCommand(&p, end, &c);  // checked above
        if (c.insertLength) {
            result = b.room(c.insertLength);
            if (result) break;
            memcpy(b.out + b.outLength, data, c.insertLength);
            b.outLength += c.insertLength;
            data += c.insertLength;
        }
        if (c.copyLength) {
            uint32_t from = static_cast<uint32_t>(static_cast<int64_t>(oldPos) + c.distance);
            result = b.copy(from, c.copyLength);
            oldPos = from + c.copyLength;
        }
        if (job->progress) job->progress(job->progressContext, b.flushed + b.outLength);
    }
    if (result == DELTA_OK) result = b.flush();
    freeBuffer(b.out);
    freeBuffer(b.window);
    return result;
}
