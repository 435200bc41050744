// libFuzzer target: any bytes as a dump, and as a service list. Under
// AddressSanitizer a read outside the dump's bytes stops the run; the checks
// below hold whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "counting/scan.h"
#include "front/service_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const service_counts counts = count_connections(bytes);
    // Each count needs at least one colon and the eleven bytes of ESTABLISHED.
    std::int64_t total = 0;
    for (std::int64_t count : counts)
        total += count;
    if (total < 0 || static_cast<std::size_t>(total) * 12 > size)
        std::abort();

    if (service_list_is_bracketed(bytes))
        parse_service_list(bytes);
    return 0;
}
