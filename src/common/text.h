// Words of the command line, or another program's, as one line of standard
// error shows them.
#pragma once

#include <string>
#include <string_view>

// `word` with each byte that a terminal could act on written as \xHH, so
// that one message stays one line on a terminal, in the journal and in
// cron's mail, and cannot move the cursor or recolour it:
//   - a C0 control byte (below 0x20) and 0x7F;
//   - a C1 control: a byte 0x80 to 0x9F that is no part of a valid UTF-8
//     sequence (an 8-bit terminal takes 0x9B as CSI), and the UTF-8 form of
//     U+0080 to U+009F, C2 80 to C2 9F, both of its bytes (\xC2\x9B).
// Every other byte stays as it is: printable ASCII, any valid UTF-8
// sequence of U+00A0 or above (so the 9B of E2 80 9B, U+201B, stays), and
// the bytes 0xA0 to 0xFF of text that is no UTF-8 (a code page's letters).
std::string shown(std::string_view word);
