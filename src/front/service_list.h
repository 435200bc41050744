// The bracketed service list of the command line, such as [POP3.SMTP].
#pragma once

#include <cstddef>
#include <string_view>

#include "common/service_table.h"

// True when the list begins with '[' and ends with ']'. The single
// character "[" is not bracketed, nor is an empty word.
bool service_list_is_bracketed(std::string_view list);

// The services a bracketed list names. Names run up to a '.' or the first
// ']', which ends the list; each must be one of a service's two spellings,
// whole and in that case. Anything else (an empty name, a name in mixed case,
// a comma inside a name) selects nothing and is no error.
service_selection parse_service_list(std::string_view list);

// The names of a list, read as parse_service_list reads them, that are no
// service's spelling: the first of them and how many there are (the same
// name given twice counts twice). Empty names, as in [SMTP..FTP], are not
// counted: they are only doubled dots.
struct unknown_names {
    std::string_view first;  // a view into the list; empty when count is 0
    std::size_t count = 0;
};
unknown_names find_unknown_names(std::string_view list);
