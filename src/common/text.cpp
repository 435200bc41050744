#include "common/text.h"

namespace {

// The length of the valid UTF-8 sequence that starts `text` (2 to 4), or 0:
// no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t utf8_length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

void append_escaped(std::string &text, unsigned char byte)
{
    static const char hex[] = "0123456789ABCDEF";
    text += "\\x";
    text += hex[byte >> 4];
    text += hex[byte & 0xF];
}

}  // namespace

std::string shown(std::string_view word)
{
    std::string text;
    for (std::size_t at = 0; at < word.size();) {
        const unsigned char byte = static_cast<unsigned char>(word[at]);
        const std::size_t length = byte >= 0x80 ? utf8_length(word.substr(at)) : 0;
        if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(word[at + 1]) <= 0x9F) {
            append_escaped(text, byte);
            append_escaped(text, static_cast<unsigned char>(word[at + 1]));
            at += 2;
        } else if (length > 0) {
            text.append(word, at, length);
            at += length;
        } else {
            if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F))
                append_escaped(text, byte);
            else
                text += word[at];
            ++at;
        }
    }
    return text;
}
