#include "platform/process.h"

#include <string_view>
#include <windows.h>
#include <shellapi.h>

namespace {

// Empty when the variable is unset or empty.
std::string environment_text(const char *name)
{
    const DWORD size = GetEnvironmentVariableA(name, NULL, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

// The next ';'-separated part of `list`, removed from it.
std::string_view next_part(std::string_view &list)
{
    const std::size_t end = list.find(';');
    const std::string_view part = list.substr(0, end);
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    return part;
}

bool is_file(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ShellExecuteA succeeds once cmd.exe starts, whether or not cmd then finds
// the program, so the search is made beforehand, as cmd makes it: the current
// folder, then each folder of PATH, and in each the name with each extension
// of PATHEXT. An extensionless file is one cmd does not run.
bool found_as_cmd_would(std::string_view name)
{
    std::string extension_list = environment_text("PATHEXT");
    if (extension_list.empty())
        extension_list = ".COM;.EXE;.BAT;.CMD";
    // The empty first folder stands for the current one.
    std::string folder_list = ";";
    folder_list += environment_text("PATH");

    std::string_view folders = folder_list;
    while (!folders.empty()) {
        std::string folder;
        for (const char c : next_part(folders))
            if (c != '"')  // cmd takes a quoted PATH entry too
                folder += c;
        if (!folder.empty())
            folder += '\\';  // a doubled separator is harmless
        std::string_view extensions = extension_list;
        while (!extensions.empty()) {
            const std::string_view extension = next_part(extensions);
            if (!extension.empty() && is_file(folder + std::string(name) + std::string(extension)))
                return true;
        }
    }
    return false;
}

// The program the command names: its first word after "/C ".
std::string_view program_name(std::string_view command)
{
    constexpr std::string_view interpreter_switch = "/C ";
    if (command.substr(0, interpreter_switch.size()) == interpreter_switch)
        command.remove_prefix(interpreter_switch.size());
    const std::size_t start = command.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return {};
    command.remove_prefix(start);
    return command.substr(0, command.find(' '));
}

}  // namespace

// The command reaches cmd.exe with the database path unquoted, and cmd acts
// on & | < > ^ ( ) wherever they stand and expands %VAR% and !VAR!, inside
// quotes too, so no escaping is safe against every path. Such a path is
// refused whole: the front end asks before its own checks, and the launch
// asks again, so that nothing reaches cmd.exe unasked. The POSIX build runs
// no shell and takes it.
bool interpreter_would_act_on(std::string_view command)
{
    constexpr std::string_view acted_on = "\"%!^&|<>()";
    for (const char c : command) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || acted_on.find(c) != std::string_view::npos)
            return true;
    }
    return false;
}

launch_result start_hidden_command(const std::string &command, std::string &failure)
{
    if (interpreter_would_act_on(command))
        return launch_result::refused;
    const std::string_view program = program_name(command);
    if (program.empty() || !found_as_cmd_would(program)) {
        failure = std::string(program) + ": not found in the current folder or on PATH";
        return launch_result::not_started;
    }
    // Values of 32 and below are ShellExecute's error codes.
    const HINSTANCE result =
        ShellExecuteA(NULL, "open", "cmd.exe", command.c_str(), NULL, SW_HIDE);
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code <= 32) {
        failure = "cmd.exe: could not be started (ShellExecute error " + std::to_string(code) + ")";
        return launch_result::not_started;
    }
    return launch_result::started;
}
