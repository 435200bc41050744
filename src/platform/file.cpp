#include "platform/file.h"

#include <new>

bool allocate_file_bytes(std::uint64_t size, file_bytes &out)
{
    if (size > SIZE_MAX / 2)
        return false;
    out.size = static_cast<std::size_t>(size);
    out.data.reset(new (std::nothrow) char[out.size ? out.size : 1]);
    return out.data != nullptr;
}
