#include "errors/debug_quoted.hpp"

#include <cstdio>

namespace orven::bindings::errors {
namespace {

// Control characters are the single bytes 0x00-0x1F and 0x7F, and the C1
// range U+0080-U+009F, which UTF-8 writes as 0xC2 0x80-0x9F.
void append_escaped_code_point(std::string& out, unsigned code_point) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\u{%x}", code_point);
    out += buffer;
}

}  // namespace

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            append_escaped_code_point(out, byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            append_escaped_code_point(out, static_cast<unsigned char>(text[i + 1]));
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += '"';
    return out;
}

}  // namespace orven::bindings::errors
