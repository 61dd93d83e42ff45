#pragma once

// Code points written as UTF-8, generalised to every code point below
// 0x110000, lone surrogates included (Python strings may hold them).  The
// encoding is the same rule for every code point, so the bytes of two
// strings compare as their code points do, and equal bytes mean equal
// code points: byte-keyed dictionaries then number text in the order
// Python sorts str.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orven::keys {

inline void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    }
}

// `count` code units of one width (1, 2 or 4 bytes, each a code point) as
// UTF-8, replacing what `out` held.
template <class Unit>
void units_as_utf8(const Unit* units, std::size_t count, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < count; ++i) append_utf8(out, units[i]);
}

}  // namespace orven::keys
