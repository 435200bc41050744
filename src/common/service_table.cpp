#include "common/service_table.h"

const service service_table[service_count] = {
    {"POP3", {"POP3", "pop3"}, "110"},
    {"SMTP", {"SMTP", "smtp"}, "25"},
    {"HTTP", {"HTTP", "http"}, "80"},
    {"FTP", {"FTP", "ftp"}, "21"},
};
