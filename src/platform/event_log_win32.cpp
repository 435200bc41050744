#include "platform/event_log.h"

#include <windows.h>

#include "platform/win32_text.h"

// The source needs no registration to be written: without a message file
// the Event Viewer shows the line as the event's one string. A failure here
// leaves the line on stderr alone, which is all the caller could do anyway.
void log_failure(const std::string &line)
{
    const HANDLE source = RegisterEventSourceW(NULL, L"estacount");
    if (source == NULL)
        return;
    const std::wstring text = wide_text(line);
    const wchar_t *strings[] = {text.c_str()};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, NULL, 1, 0, strings, NULL);
    DeregisterEventSource(source);
}
