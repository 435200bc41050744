// The four services the program counts, in the one order every delivery uses.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

constexpr int service_count = 4;

struct service {
    const char *label;              // as printed in the report
    std::string_view spellings[2];  // the names the service list accepts
    std::string_view port_text;     // the local port, as the dump writes it
};

// POP3, SMTP, HTTP, FTP: the order of the report lines and of the values in
// the update command, whatever order the service list names them in. Known
// when compiling, so that the scan's port tests become a few byte compares.
inline constexpr service service_table[service_count] = {
    {"POP3", {"POP3", "pop3"}, "110"},
    {"SMTP", {"SMTP", "smtp"}, "25"},
    {"HTTP", {"HTTP", "http"}, "80"},
    {"FTP", {"FTP", "ftp"}, "21"},
};

using service_selection = std::array<bool, service_count>;

// 64-bit, so that no dump, however large, can overflow a count.
using service_counts = std::array<std::int64_t, service_count>;
