/* The least work any frame-to-features call must do, timed natively: one
 * read of every input buffer and one scatter of the values into group
 * order.  frames_compare.py compiles this file (cc -O2 -shared -fPIC
 * -pthread) into build/ and calls floor_run through ctypes.
 *
 * floor_run(threads, reads, read_bytes, read_count, values, dest,
 *           value_columns, rows, out, sink) -> seconds
 *
 *   reads[i], read_bytes[i]  every byte buffer of the key and time columns
 *                            (numbers; Arrow offsets and data of strings;
 *                            the pointer array of object columns)
 *   values[k], dest[k]       value column k (float64) and each of its rows'
 *                            position in group order (int64)
 *   out                      a buffer of value_columns * rows doubles, which
 *                            the caller has already written once, so that
 *                            no page is first touched on the clock
 *
 * Each of `threads` POSIX threads takes an equal slice of every read
 * buffer (summing it as 64-bit words) and an equal slice of the rows of
 * every value column (out[dest[k][r]] = values[k][r]).  The clock runs
 * from before the first thread is started to after the last has joined.
 * The sums go to *sink so that the reads cannot be left out. */

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

struct slice {
    int index, threads;
    const unsigned char *const *reads;
    const int64_t *read_bytes;
    int read_count;
    const double *const *values;
    const int64_t *const *dest;
    int value_columns;
    int64_t rows;
    double *out;
    uint64_t sum;
};

static int64_t part(int64_t total, int index, int threads) {
    return (int64_t)((__int128)total * index / threads);
}

static void *run_slice(void *argument) {
    struct slice *s = argument;
    uint64_t sum = 0;
    for (int i = 0; i < s->read_count; ++i) {
        /* Slices start on 8-byte boundaries of the buffer, the last one
         * takes the bytes past the last whole word. */
        int64_t words = s->read_bytes[i] / 8;
        int64_t begin = part(words, s->index, s->threads) * 8;
        int64_t end = s->index + 1 == s->threads ? s->read_bytes[i] : part(words, s->index + 1, s->threads) * 8;
        const unsigned char *buffer = s->reads[i];
        int64_t at = begin;
        uint64_t a = 0, b = 0, c = 0, d = 0;
        for (; at + 32 <= end; at += 32) {
            uint64_t w[4];
            memcpy(w, buffer + at, sizeof w);
            a += w[0];
            b += w[1];
            c += w[2];
            d += w[3];
        }
        for (; at < end; ++at) a += buffer[at];
        sum += a ^ b ^ c ^ d;
    }
    int64_t begin = part(s->rows, s->index, s->threads);
    int64_t end = part(s->rows, s->index + 1, s->threads);
    for (int k = 0; k < s->value_columns; ++k) {
        const double *values = s->values[k];
        const int64_t *dest = s->dest[k];
        double *out = s->out;
        for (int64_t r = begin; r < end; ++r) out[dest[r]] = values[r];
    }
    s->sum = sum;
    return NULL;
}

double floor_run(int threads, const unsigned char *const *reads, const int64_t *read_bytes, int read_count,
                 const double *const *values, const int64_t *const *dest, int value_columns, int64_t rows,
                 double *out, uint64_t *sink) {
    enum { most = 64 };
    struct slice slices[most];
    pthread_t handles[most];
    if (threads < 1) threads = 1;
    if (threads > most) threads = most;
    for (int t = 0; t < threads; ++t) {
        slices[t] = (struct slice){t, threads, reads, read_bytes, read_count, values, dest, value_columns, rows,
                                   out, 0};
    }
    struct timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int started = 1;
    for (int t = 1; t < threads; ++t, ++started) {
        if (pthread_create(&handles[t], NULL, run_slice, &slices[t]) != 0) break;
    }
    /* A thread that could not be started has its slice done here. */
    for (int t = started; t < threads; ++t) run_slice(&slices[t]);
    run_slice(&slices[0]);
    for (int t = 1; t < started; ++t) pthread_join(handles[t], NULL);
    clock_gettime(CLOCK_MONOTONIC, &stop);
    uint64_t sum = 0;
    for (int t = 0; t < threads; ++t) sum += slices[t].sum;
    *sink = sum;
    return (double)(stop.tv_sec - start.tv_sec) + (double)(stop.tv_nsec - start.tv_nsec) * 1e-9;
}
