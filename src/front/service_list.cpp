#include "front/service_list.h"

namespace {

// Takes the next name off `rest`, which starts just past the '[' or a '.'.
// The name runs up to the next '.' or ']'; `rest` is left empty once the
// name ended at the ']' or at the end of the word.
std::string_view take_name(std::string_view &rest)
{
    const std::size_t end = rest.find_first_of(".]");
    const std::string_view name = rest.substr(0, end);
    if (end == std::string_view::npos || rest[end] == ']')
        rest = {};
    else
        rest.remove_prefix(end + 1);
    return name;
}

// The row of the service that `name` spells, or -1.
int service_spelled(std::string_view name)
{
    for (int i = 0; i < service_count; ++i)
        for (std::string_view spelling : service_table[i].spellings)
            if (name == spelling)
                return i;
    return -1;
}

}  // namespace

bool service_list_is_bracketed(std::string_view list)
{
    return list.size() >= 2 && list.front() == '[' && list.back() == ']';
}

service_selection parse_service_list(std::string_view list)
{
    service_selection selected{};
    std::string_view rest = list.substr(list.empty() ? 0 : 1);
    while (!rest.empty())
        if (const int row = service_spelled(take_name(rest)); row >= 0)
            selected[row] = true;
    return selected;
}

unknown_names find_unknown_names(std::string_view list)
{
    unknown_names unknown;
    std::string_view rest = list.substr(list.empty() ? 0 : 1);
    while (!rest.empty()) {
        const std::string_view name = take_name(rest);
        if (name.empty() || service_spelled(name) >= 0)
            continue;
        if (unknown.count++ == 0)
            unknown.first = name;
    }
    return unknown;
}
