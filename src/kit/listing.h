// The listing the kit saves: the system's connection table in netstat's
// layout, with English state words whatever the system's language, so that
// estacount counts it and a person can read it.
#pragma once

#include <string>
#include <vector>

#include "platform/connections.h"

// One heading line, then a line per connection:
//   tcp   127.0.0.1:25            127.0.0.1:40312         ESTABLISHED
//   tcp6  [::1]:110               [::1]:51234             ESTABLISHED
// ended by CR LF on Windows and LF elsewhere.
std::string netstat_listing(const std::vector<connection> &table);

// Writes `text` as the file at `path` (making its folder if need be) under a
// new unique name beside it, then renamed over `path`. False, with the
// system's words in `failure`, when it could not be written whole: `path`
// is then as it was.
bool write_whole(const std::string &path, const std::string &text, std::string &failure);

// The folder a path names its file in; "." for none.
std::string folder_of(const std::string &path);

// Reads this host's connection table and saves its listing whole as
// SPOOL/netstatdump.log: written under a new unique name in SPOOL, then
// renamed over the old one, so a reader never sees half of it and a
// symlink at the name is replaced. `listing` receives what was saved. False,
// with why in `failure`: the table could not be read, or the listing could
// not be written whole (a full disk), and the old listing stays.
bool save_listing(const std::string &spool, std::string &listing, std::string &failure);
