// The server of a named pipe, given to the program as its dump: makes
// \\.\pipe\NAME, prints "listening", waits for one client, then prints
// "connected" and ends. It never writes, so a client that read the pipe
// would wait for ever. Exits 2 when the pipe could not be made or served.
//   pipe_server_win32 NAME
#include <cstdio>
#include <string>
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
    const HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                         1, 4096, 4096, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return 2;
    std::puts("listening");
    std::fflush(stdout);
    if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED)
        return 2;
    std::puts("connected");
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
}
