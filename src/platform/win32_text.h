// Shared by the Windows files of the platform layer: the program keeps its
// texts in the ANSI code page, as argv brings them, and calls the W
// functions, which take any path.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

// `text` in UTF-16; a byte the code page has no character for becomes one
// the conversion picks, never an error.
inline std::wstring wide_text(std::string_view text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// `text` in the ANSI code page; a character it lacks becomes '?'.
inline std::string narrow_text(std::wstring_view text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0,
                                           NULL, NULL);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, NULL,
                        NULL);
    return narrow;
}

// The system's text for an error code, without its closing period and line
// end, or a short fixed text where the system has none.
inline std::string system_text(DWORD error)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, sizeof text, NULL);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0)
        return "system error " + std::to_string(error);
    return std::string(text, length);
}

// Creates a file that did not exist, in `folder` (the current one when
// empty), named `prefix`, a number and ".tmp", with `flags` (FILE_FLAG_...
// and FILE_ATTRIBUTE_...), for reading and writing, inheritable when
// `inherit`. INVALID_HANDLE_VALUE, with GetLastError set, when it cannot.
// `path` receives the name. In write_win32.cpp.
HANDLE create_new_file(const std::wstring &folder, const char *prefix, DWORD flags, bool inherit,
                       std::wstring &path);
