#include "text.h"

#include <cstdio>

namespace handler_inspect {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t sequence_length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string valid_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = sequence_length(text);
        if (length == 0) {
            out += replacement;
            text.remove_prefix(1);
        } else {
            out += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return out;
}

std::string one_line(std::string_view text)
{
    const std::string valid = valid_utf8(text);
    std::string out;
    out.reserve(valid.size());
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string message_of(const char* what)
{
    if (what == nullptr) {
        return "(an exception with a null message)";
    }
    if (*what == '\0') {
        return "(an exception with an empty message)";
    }
    return what;
}

} // namespace handler_inspect
