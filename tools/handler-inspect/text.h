// text.h - text that is always safe to print: valid UTF-8, one line.
#ifndef HANDLER_INSPECT_TEXT_H
#define HANDLER_INSPECT_TEXT_H

#include <string>
#include <string_view>

namespace handler_inspect {

/// `text` with each invalid UTF-8 sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

/// `text` as one printable line: valid UTF-8, with backslashes, line breaks
/// and other control characters written as C escapes (\\, \n, \t, \x1b).
std::string one_line(std::string_view text);

/// An exception's message; a null or empty what() is named instead.
std::string message_of(const char* what);

} // namespace handler_inspect

#endif // HANDLER_INSPECT_TEXT_H
