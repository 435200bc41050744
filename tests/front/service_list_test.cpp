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
    } cases[] = {
        {"[POP3.SMTP.HTTP.FTP]", {true, true, true, true}},
        {"[pop3.smtp.http.ftp]", {true, true, true, true}},
        {"[smtp.HTTP.pop3]", {true, true, true, false}},
        {"[Smtp]", {false, false, false, false}},
        {"[SMTP]HTTP]", {false, true, false, false}},
        {"[SMTP..FTP]", {false, true, false, true}},
        {"[.FTP.]", {false, false, false, true}},
        {"[FTP.FTP.ftp]", {false, false, false, true}},
        {"[SMTP,POP3]", {false, false, false, false}},
        {"[]", {false, false, false, false}},
        {"[" + forty + "]", {false, false, false, false}},
        {"[" + forty + ".HTTP]", {false, false, true, false}},
        {"[POP]", {false, false, false, false}},
        {"[POP3 ]", {false, false, false, false}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_service_list(c.list), c.want) << c.list;
}

}  // namespace
