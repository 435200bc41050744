#include "common/text.h"

std::string shown(std::string_view word)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : word) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
        } else {
            text += c;
        }
    }
    return text;
}
