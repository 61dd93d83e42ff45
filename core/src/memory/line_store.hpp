#pragma once

// Whole cache lines written to memory that is not read again soon.  A
// plain store first reads the line it lands in; when every byte of the
// line is written anyway, as by a write-combining buffer flushing into a
// buffer of the rows' size, that read is wasted bandwidth.  On x86-64 a
// non-temporal store skips it; elsewhere (or for a line not aligned to 64
// bytes) this is a plain copy.  After the last line of a task, call
// line_stores_done() so that the lines are visible to the threads that go
// on with them.

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define ORVEN_LINE_STORE_SSE2 1
#include <emmintrin.h>
#endif

namespace orven::memory {

inline constexpr std::size_t cache_line = 64;

// Copies the 64 bytes at `line` (aligned to 64) to `to`.
inline void store_line(void* to, const void* line) noexcept {
#if ORVEN_LINE_STORE_SSE2
    if (reinterpret_cast<std::uintptr_t>(to) % cache_line == 0) {
        const auto* from = static_cast<const __m128i*>(line);
        auto* out = static_cast<__m128i*>(to);
        _mm_stream_si128(out, _mm_load_si128(from));
        _mm_stream_si128(out + 1, _mm_load_si128(from + 1));
        _mm_stream_si128(out + 2, _mm_load_si128(from + 2));
        _mm_stream_si128(out + 3, _mm_load_si128(from + 3));
        return;
    }
#endif
    std::memcpy(to, line, cache_line);
}

inline void line_stores_done() noexcept {
#if ORVEN_LINE_STORE_SSE2
    _mm_sfence();
#endif
}

}  // namespace orven::memory
