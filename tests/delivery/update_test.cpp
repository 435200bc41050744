#include "delivery/update.h"

#include <gtest/gtest.h>

namespace {

TEST(build_update_command, table)
{
    const struct {
        const char *path;
        service_selection selected;  // POP3, SMTP, HTTP, FTP
        const char *want;
    } cases[] = {
        {"db.rrd", {true, true, true, true}, "/C rrdtool update db.rrd N:7:0:12:1"},
        {"db.rrd", {true, false, true, false}, "/C rrdtool update db.rrd N:7:12"},
        {"db.rrd", {false, false, false, true}, "/C rrdtool update db.rrd N:1"},
        {"db.rrd", {false, false, false, false}, "/C rrdtool update db.rrd N"},
        {"my stats/a b.rrd", {false, true, false, false}, "/C rrdtool update my stats/a b.rrd N:0"},
    };
    for (const auto &c : cases) {
        run_state run;
        run.rrd_path = c.path;
        run.selected = c.selected;
        run.count_texts = {"7", "0", "12", "1"};
        EXPECT_EQ(build_update_command(run), c.want);
    }
}

}  // namespace
