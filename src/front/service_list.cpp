#include "front/service_list.h"

bool service_list_is_bracketed(std::string_view list)
{
    return list.size() >= 2 && list.front() == '[' && list.back() == ']';
}

service_selection parse_service_list(std::string_view list)
{
    service_selection selected{};
    if (list.empty())
        return selected;
    std::string_view rest = list.substr(1);
    for (;;) {
        const std::size_t end = rest.find_first_of(".]");
        const std::string_view name = rest.substr(0, end);
        for (int i = 0; i < service_count; ++i)
            for (std::string_view spelling : service_table[i].spellings)
                if (name == spelling)
                    selected[i] = true;
        if (end == std::string_view::npos || rest[end] == ']')
            return selected;
        rest.remove_prefix(end + 1);
    }
}
