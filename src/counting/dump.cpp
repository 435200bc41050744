#include "counting/dump.h"

std::string dump_path(std::string_view spool_dir)
{
    std::string path(spool_dir);
    path += directory_separator;
    path += "netstatdump.log";
    return path;
}

read_result load_dump(std::string_view spool_dir, file_bytes &dump)
{
    return read_whole_file(dump_path(spool_dir).c_str(), dump);
}
