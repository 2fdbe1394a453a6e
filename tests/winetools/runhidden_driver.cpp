// runhidden_driver: runs one command line through the launcher's RunHidden and reports what
// happened, for the Wine tests of the hidden process runner.
//
//   runhidden_driver.exe COMMAND_LINE
//
// The one argument is the command line handed to RunHidden (hide set). Before the call the driver creates a message-only window, posts one message to
// it and starts a 10 ms timer on it; the window procedure counts what RunHidden dispatches
// while it waits. Prints one JSON line:
//   {"result":bool,"unchanged":bool,"dispatched":N,"max_gap_ms":N,"elapsed_ms":N}
// "unchanged": the caller's string equals a copy taken before the call; "max_gap_ms": the
// longest stretch without a dispatched message, from the call's start to its end.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/install.h"

namespace {

constexpr UINT kPostedMessage = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMs = 10;

std::vector<ULONGLONG> dispatchTimes;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || message == kPostedMessage) {
        dispatchTimes.push_back(GetTickCount64());
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateCountingWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"RunHiddenDriverCounter";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

// The driver's one argument, decoded as the C runtime does, so that a test can hand over a
// command line with quotes of its own; empty when there is not exactly one.
std::wstring GetChildCommandLine()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring commandLine;
    if (argv != nullptr && argc == 2) commandLine = argv[1];
    LocalFree(argv);
    return commandLine;
}

ULONGLONG LongestGap(ULONGLONG start, ULONGLONG end)
{
    ULONGLONG longest = 0;
    ULONGLONG previous = start;
    for (const ULONGLONG time : dispatchTimes) {
        if (time - previous > longest) longest = time - previous;
        previous = time;
    }
    return end - previous > longest ? end - previous : longest;
}

}  // namespace

int wmain()
{
    const std::wstring commandLine = GetChildCommandLine();
    if (commandLine.empty()) {
        std::fprintf(stderr, "usage: runhidden_driver.exe COMMAND_LINE\n");
        return 2;
    }
    const std::wstring copy = commandLine;
    const HWND window = CreateCountingWindow();
    if (window == nullptr) {
        std::fprintf(stderr, "cannot create the counting window\n");
        return 2;
    }
    PostMessageW(window, kPostedMessage, 0, 0);
    SetTimer(window, kTimerId, kTimerMs, nullptr);

    const ULONGLONG start = GetTickCount64();
    const bool result = RunHidden(commandLine, true);
    const ULONGLONG end = GetTickCount64();

    KillTimer(window, kTimerId);
    DestroyWindow(window);
    std::printf("{\"result\":%s,\"unchanged\":%s,\"dispatched\":%u,\"max_gap_ms\":%llu,"
                "\"elapsed_ms\":%llu}\n",
                result ? "true" : "false", commandLine == copy ? "true" : "false",
                static_cast<unsigned>(dispatchTimes.size()), LongestGap(start, end), end - start);
    return 0;
}
