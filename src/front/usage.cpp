#include "front/usage.h"

#include <cstdio>

void print_usage(usage_variant variant)
{
    std::fputs("\n\nUse this utility in this way:\n", stdout);
    std::fputs("estacount ? | help -- for this help\n", stdout);
    std::fputs("estacount V -- print the version\n", stdout);
    std::fputs("\nestacount rrd nspath [SMTP.POP3.HTTP.FTP] fillrrd | video\n", stdout);
    std::fputs("where:\n", stdout);
    std::fputs("rrd -- is the round robin database to update\n", stdout);
    std::fputs("nepath -- is the path where to put the output file of netstat\n", stdout);
    if (variant == usage_variant::dot)
        std::fputs("[SMTP.POP3.HTTP.FTP] -- are the demon connection to count. They must be inside square brackets and can be one or more separed by '.'\n", stdout);
    else
        std::fputs("[SMTP,POP3,HTTP,FTP] -- are the demon connection to count. They must be inside square brackets and can be one or more separed by '.'\n", stdout);
    std::fputs("\nfillrrd | video  -- can choose to print the counts on a rrd or to video\n", stdout);
    std::fputs("\n\n\n", stdout);
}

void print_version()
{
    std::fputs("\n\nestacount v1.0\n", stdout);
    std::fputs("(c) 2026 the estacount authors - report problems on the estacount issue tracker\n", stdout);
    std::fputs("\n\n\n", stdout);
}
