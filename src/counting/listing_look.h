// What a dump looks like, for the one case where that needs telling: when
// nothing in it counted, it is often a listing that the scan can never
// count (netstat in another language, ss, a file of two bytes per
// character), and whoever set up the job that saves it needs to know.
#pragma once

#include <string>
#include <string_view>

enum class listing_kind {
    // A listing of ss: its header ("Local Address:Port") or a line whose
    // first word is its state ESTAB.
    ss,
    // netstat in another language: a connection line whose state word is no
    // English netstat state word. German net-tools translates ESTABLISHED
    // alone (VERBUNDEN), so such a listing holds English words too.
    other_language,
    // netstat in English: a connection line whose state word is an English
    // one (ESTABLISHED, LISTEN, LISTENING, TIME_WAIT, BOUND ...), or else
    // the English header ("Foreign Address"), as on an idle host.
    english,
    // Two bytes per character (UTF-16, as PowerShell 5's > writes): a
    // byte-order mark (FF FE or FE FF) or a NUL byte.
    two_bytes,
    // None of these: no connection line with a state word and no English
    // header (an empty dump included).
    no_connections,
};

struct listing_look {
    listing_kind kind = listing_kind::no_connections;
    std::string word;  // other_language only: the state word, its bytes as stored
};

// Looks at `head`, the first bytes of a dump (a line cut at its end is taken
// as it is), and gives the first kind above, in their order, that applies:
// whatever is English in a listing, one foreign state word makes it
// other_language, the first such in `head` being `word`.
//
// Lines end at CR or LF; words are separated by spaces and tabs. A
// connection line is one whose first word begins with tcp or udp (in any
// case) and that holds an endpoint: a word ADDRESS:PORT, ADDRESS not empty
// and PORT digits or *. Its state word is the word right after its last
// endpoint, when that begins with a letter or a byte of 0x80 or above
// (netstat -ano's process number after the state is thus never taken).
// Pure: touches no system, and the time is linear in the size of `head`.
listing_look look_of_listing(std::string_view head);
