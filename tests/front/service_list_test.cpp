#include "front/service_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(parse_service_list, table)
{
    const std::string forty(40, 'x');
    const struct {
        std::string list;
        service_selection want;  // POP3, SMTP, HTTP, FTP
        std::string first_unknown;
        std::size_t unknown_count;
    } cases[] = {
        {"[POP3.SMTP.HTTP.FTP]", {true, true, true, true}, "", 0},
        {"[pop3.smtp.http.ftp]", {true, true, true, true}, "", 0},
        {"[smtp.HTTP.pop3]", {true, true, true, false}, "", 0},
        {"[Smtp]", {false, false, false, false}, "Smtp", 1},
        {"[SMTP]HTTP]", {false, true, false, false}, "", 0},
        {"[SMTP..FTP]", {false, true, false, true}, "", 0},
        {"[.FTP.]", {false, false, false, true}, "", 0},
        {"[FTP.FTP.ftp]", {false, false, false, true}, "", 0},
        {"[SMTP,POP3]", {false, false, false, false}, "SMTP,POP3", 1},
        {"[]", {false, false, false, false}, "", 0},
        {"[" + forty + "]", {false, false, false, false}, forty, 1},
        {"[" + forty + ".HTTP.x.x]", {false, false, true, false}, forty, 3},
        {"[POP]", {false, false, false, false}, "POP", 1},
        {"[POP3 ]", {false, false, false, false}, "POP3 ", 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(parse_service_list(c.list), c.want) << c.list;
        const unknown_names unknown = find_unknown_names(c.list);
        EXPECT_EQ(unknown.first, c.first_unknown) << c.list;
        EXPECT_EQ(unknown.count, c.unknown_count) << c.list;
    }
}

}  // namespace
