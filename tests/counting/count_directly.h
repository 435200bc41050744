// The walk written the most direct way, with no regard for speed: which
// colons the walk sees, then from colon to colon over the whole dump. The
// agreement test and the scan's fuzz target hold every walk to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/service_table.h"

inline service_counts count_directly(std::string_view dump)
{
    const std::size_t end = dump.size();
    auto ends_word = [&](std::size_t at) {
        return dump[at] == ' ' || dump[at] == '\r' || dump[at] == '\n';
    };

    // Every colon of a word with one or two; only the last of a word with
    // three or more.
    std::vector<bool> seen(end, false);
    for (std::size_t start = 0; start < end;) {
        std::size_t stop = start;
        while (stop < end && !ends_word(stop))
            ++stop;
        std::vector<std::size_t> colons;
        for (std::size_t at = start; at < stop; ++at)
            if (dump[at] == ':')
                colons.push_back(at);
        if (colons.size() >= 3)
            colons.erase(colons.begin(), colons.end() - 1);
        for (std::size_t colon : colons)
            seen[colon] = true;
        start = stop + 1;
    }

    auto find_colon = [&](std::size_t at) {
        while (at < end && !seen[at])
            ++at;
        return at;
    };
    // The field after the colon runs to the next space or the end.
    auto port_is = [&](std::size_t colon, std::string_view port) {
        const std::size_t after = colon + 1 + port.size();
        return dump.substr(colon + 1, port.size()) == port && (after == end || dump[after] == ' ');
    };
    service_counts counts{};
    std::size_t cursor = 0;
    for (;;) {
        const std::size_t colon = find_colon(cursor);
        if (colon >= end)
            return counts;
        int service = -1;
        for (int i = 0; i < service_count && service < 0; ++i)
            if (port_is(colon, service_table[i].port_text))
                service = i;
        if (service < 0) {
            cursor = find_colon(colon + 1) + 1;
            continue;
        }
        std::size_t at = colon;
        for (bool spaces : {false, true, false, true})
            while (at < end && (dump[at] == ' ') == spaces)
                ++at;
        std::size_t state_end = at;
        while (state_end < end && dump[state_end] != '\r' && dump[state_end] != '\n')
            ++state_end;
        if (dump.substr(at, state_end - at) == "ESTABLISHED")
            ++counts[service];
        cursor = at;
    }
}

// A byte_source's reader over a std::string_view in memory: what scan_from
// reads when the tests and the fuzz target hold it to the direct walk.
inline std::size_t read_view(void *source, std::uint64_t offset, char *into, std::size_t want)
{
    const std::string_view bytes = *static_cast<const std::string_view *>(source);
    const std::size_t size = std::min(want, bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(into, bytes.data() + offset, size);
    return size;
}
