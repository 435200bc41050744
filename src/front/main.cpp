// estacount: counts the ESTABLISHED connections to the local POP3, SMTP, HTTP
// and FTP services in a saved netstat listing, then prints the counts (video)
// or hands them to rrdtool as one sample of a round-robin database (fillrrd).
#include "front/run.h"

int main(int argc, char **argv)
{
    return run_command_line(argc, argv);
}
