#include "platform/process.h"

#include <cwchar>
#include <string_view>
#include <vector>
#include <windows.h>
#include <shellapi.h>

#include "platform/win32_text.h"

namespace {

// Empty when the variable is unset or empty.
std::wstring environment_text(const wchar_t *name)
{
    std::wstring value(GetEnvironmentVariableW(name, NULL, 0), L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// The next ';'-separated part of `list`, removed from it, without quotes
// (cmd takes a quoted PATH entry too).
std::wstring next_part(std::wstring_view &list)
{
    const std::size_t end = list.find(L';');
    std::wstring part;
    for (const wchar_t c : list.substr(0, end))
        if (c != L'"')
            part += c;
    list.remove_prefix(end == std::wstring_view::npos ? list.size() : end + 1);
    return part;
}

// The first file `name` with an extension of PATHEXT, in each folder of PATH
// in turn, as cmd.exe looks for a program: with `as_cmd`, in the current
// folder first and in relative folders too; else in absolute folders alone.
// Empty when there is none. An extensionless file is one cmd does not run.
std::wstring search_path(std::string_view name, bool as_cmd)
{
    std::wstring extension_list = environment_text(L"PATHEXT");
    if (extension_list.empty())
        extension_list = L".COM;.EXE;.BAT;.CMD";
    // The empty first folder stands for the current one.
    const std::wstring folder_list = (as_cmd ? L";" : L"") + environment_text(L"PATH");
    std::wstring_view folders = folder_list;
    while (!folders.empty()) {
        std::wstring folder = next_part(folders);
        const bool absolute = (folder.size() > 2 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                              folder.rfind(L"\\\\", 0) == 0;
        if (!as_cmd && !absolute)
            continue;
        if (!folder.empty())
            folder += L'\\';  // a doubled separator is harmless
        std::wstring_view extensions = extension_list;
        while (!extensions.empty()) {
            const std::wstring extension = next_part(extensions);
            const std::wstring path = folder + wide_text(name) + extension;
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (!extension.empty() && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return path;
        }
    }
    return {};
}

}  // namespace

// The words reach cmd.exe with the database path unquoted, and cmd acts
// on & | < > ^ ( ) wherever they stand and expands %VAR% and !VAR!, inside
// quotes too, so no escaping is safe against every path. Such a path is
// refused whole: the front end asks before its own checks, and the launch
// asks again, so that nothing reaches cmd.exe unasked. The POSIX build runs
// no shell and takes it.
bool interpreter_would_act_on(std::string_view text)
{
    constexpr std::string_view acted_on = "\"%!^&|<>()";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || acted_on.find(c) != std::string_view::npos)
            return true;
    }
    return false;
}

// ShellExecuteA succeeds once cmd.exe starts, whether or not cmd then finds
// the program, so the search is made beforehand, as cmd makes it.
launch_result start_hidden_program(const std::vector<std::string> &words, std::string &failure)
{
    std::string command = "/C";
    for (const std::string &word : words)
        command += " " + word;
    if (interpreter_would_act_on(command))
        return launch_result::refused;
    const std::string_view program = words.empty() ? std::string_view() : std::string_view(words[0]);
    if (program.empty() || search_path(program, true).empty()) {
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

namespace {

bool ends_with(const std::wstring &text, const wchar_t *end)
{
    const std::size_t length = std::wcslen(end);
    return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, end) == 0;
}

// `word` as the C runtime's command line parser gives it back whole: in
// quotes when needed, a quote inside escaped, and the backslashes before a
// quote (its own or the closing one) doubled; elsewhere they stay single.
std::wstring quoted(const std::wstring &word)
{
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return word;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'"')
            text.append(backslashes + 1, L'\\');
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        text += c;
    }
    return text.append(backslashes, L'\\') + L"\"";
}

}  // namespace

// Only absolute folders of PATH are searched: the current folder, which
// CreateProcess would search first, or a relative one is wherever the run was
// started from, and whoever can write there would choose our rrdtool. A .bat
// or .cmd is not run: cmd.exe would read its arguments, and act on & | < > ^ %
// in a database path. Its words go to a file, not a pipe that it could fill
// up and block on while we wait; the system removes the file with its last
// handle.
program_result run_program(const std::vector<std::string> &words, unsigned seconds, std::intptr_t stdout_file)
{
    program_result result;
    const std::wstring program = words.empty() ? L"" : search_path(words[0], false);
    if (program.empty() || !(ends_with(program, L".exe") || ends_with(program, L".com"))) {
        const std::string name = words.empty() ? "" : words[0];
        const std::string kind = ends_with(program, L".bat") || ends_with(program, L".cmd")
                                     ? " is a batch file, which estacount-kit does not run"
                                     : " is no .exe or .com program";
        result.output = name + (program.empty() ? ": not found in the absolute folders of PATH"
                                                : ": " + narrow_text(program) + kind + ": put the folder of " +
                                                      name + ".exe first on PATH");
        return result;
    }
    std::wstring command_line = quoted(program), temp_folder(MAX_PATH + 1, L'\0'), temp_path;
    for (std::size_t i = 1; i < words.size(); ++i)
        command_line += L" " + quoted(wide_text(words[i]));
    temp_folder.resize(GetTempPathW(MAX_PATH + 1, temp_folder.data()));
    if (!temp_folder.empty())
        temp_folder.pop_back();  // its closing backslash

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    const HANDLE words_file = create_new_file(temp_folder, "estacount-kit-",
                                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, true, temp_path);
    const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                     OPEN_EXISTING, 0, NULL);
    HANDLE output = words_file;
    if (stdout_file != -1 && !DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(stdout_file),
                                              GetCurrentProcess(), &output, 0, TRUE, DUPLICATE_SAME_ACCESS))
        output = INVALID_HANDLE_VALUE;
    // Only these reach the child, not every inheritable handle we hold.
    HANDLE handles[3] = {input, words_file, output};
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(NULL, 1, 0, &list_size);
    std::vector<char> list(list_size);
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = words_file;
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    const bool listed = InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &list_size);
    // A job that ends with our handle to it takes rrdtool with us when we
    // are killed, as our process group does on POSIX: none lives on to
    // change the database behind the next run. Where none can be had (in a
    // job that allows none inside it, before Windows 8), rrdtool runs all
    // the same.
    const HANDLE job = CreateJobObjectW(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != NULL)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION process = {};
    if (words_file == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE ||
        !listed ||
        !UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                   (output == words_file ? 2 : 3) * sizeof(HANDLE), NULL, NULL) ||
        !CreateProcessW(program.c_str(), command_line.data(), NULL, NULL, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, NULL, NULL,
                        &startup.StartupInfo, &process)) {
        result.output = words[0] + ": " + narrow_text(program) + ": " + system_text(GetLastError());
    } else {
        if (job != NULL)
            AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        if (WaitForSingleObject(process.hProcess, 1000 * seconds) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            result.outcome = program_result::timed_out;
        } else {
            DWORD status = 0;
            GetExitCodeProcess(process.hProcess, &status);
            result.outcome = program_result::exited;
            result.status = static_cast<int>(status);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        char text[65536];  // a screenful is plenty
        DWORD got = 0;
        if (SetFilePointer(words_file, 0, NULL, FILE_BEGIN) == 0 && ReadFile(words_file, text, sizeof text, &got, NULL))
            result.output.assign(text, got);
    }
    if (listed)
        DeleteProcThreadAttributeList(startup.lpAttributeList);
    for (const HANDLE handle : {input, words_file, output == words_file ? INVALID_HANDLE_VALUE : output, job})
        if (handle != INVALID_HANDLE_VALUE && handle != NULL)
            CloseHandle(handle);
    return result;
}

std::string host_name()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0)
        return "this host";
    return std::string(name, size);
}
