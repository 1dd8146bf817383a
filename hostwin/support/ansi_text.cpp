// UTF-16 to ANSI for the shell side, and the escaping of journal fields.
#include "ansi_text.h"

#include <cstdio>

namespace hostwin::detail {

namespace {

// Code page 1252's bytes 0x80-0x9F; 0 where the code page leaves the byte to the C1 control.
const char16_t cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

int From1252(char32_t c)
{
    if (c < 0x100)
        return (int)c;  // ASCII, the C1 controls and Latin-1 stand at their own byte
    for (int i = 0; i < 32; i++)
        if (cp1252High[i] != 0 && cp1252High[i] == c)
            return 0x80 + i;
    return -1;
}

int From932(char32_t c)
{
    if (c < 0x80)
        return (int)c;
    if (c >= 0xFF61 && c <= 0xFF9F)  // half-width katakana
        return (int)(c - 0xFF61 + 0xA1);
    return -1;
}

}  // namespace

std::string WideToAnsi(const char16_t *text, size_t length, unsigned codePage)
{
    std::string out;
    for (size_t i = 0; i < length; i++) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            // A pair stands for one character outside both code pages: one '?'.
            i++;
            out += '?';
            continue;
        }
        int byte = codePage == 932 ? From932(c) : From1252(c);
        out += byte < 0 ? '?' : (char)byte;
    }
    return out;
}

std::u16string AnsiToWide(const std::string &text, unsigned codePage)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        if (codePage == 932) {
            if (c < 0x80)
                out += (char16_t)c;
            else if (c >= 0xA1 && c <= 0xDF)
                out += (char16_t)(0xFF61 + c - 0xA1);
            else {
                if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < text.size())
                    i++;
                out += u'\uFFFD';
            }
        } else if (c >= 0x80 && c <= 0x9F && cp1252High[c - 0x80] != 0)
            out += cp1252High[c - 0x80];
        else
            out += (char16_t)c;
    }
    return out;
}

std::string JournalField(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            out += escaped;
        } else
            out += (char)c;
    }
    return out;
}

std::string JournalPointer(const void *pointer)
{
    if (pointer == nullptr)
        return "NULL";
    char text[32];
    std::snprintf(text, sizeof(text), "%p", pointer);
    return text;
}

}  // namespace hostwin::detail
