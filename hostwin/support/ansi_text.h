// Text helpers of the shell side of hostwin: UTF-16 back to the ANSI code page, journal fields.
#pragma once
#include <cstddef>
#include <string>

namespace hostwin::detail {

// UTF-16 to the ANSI code page as WideCharToMultiByte does with the default character '?':
// 1252 exactly (its 0x80-0x9F letters, and U+0080-U+009F back to the same bytes), 932 for ASCII
// and half-width katakana; anything the code page cannot hold becomes '?'.
std::string WideToAnsi(const char16_t *text, size_t length, unsigned codePage);

// The way back, for names the shell hands out in UTF-16: 1252 exactly, 932 for ASCII and
// half-width katakana (a double-byte character becomes U+FFFD).
std::u16string AnsiToWide(const std::string &text, unsigned codePage);

// A field of a journal line: tabs, line ends and other control bytes would break the line's
// columns, so they are written as \t, \n, \r and \xNN.
std::string JournalField(const std::string &text);

// A pointer or handle as a journal shows it: 0x1234abcd, or NULL.
std::string JournalPointer(const void *pointer);

}  // namespace hostwin::detail
