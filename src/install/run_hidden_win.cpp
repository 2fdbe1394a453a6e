// The hidden process runner (Win32): one child at a time, waited for in 100 ms slices while the
// progress window's messages keep being dispatched.
#include <windows.h>

#include <vector>

#include "install/install.h"
#include "progress/progress.h"

namespace {

constexpr DWORD kWaitSliceMs = 100;

// Waits for the process to end, draining the message queue after every slice that timed out.
void WaitWhilePumping(HANDLE process)
{
    while (WaitForSingleObject(process, kWaitSliceMs) == WAIT_TIMEOUT) PumpMessages();
}

}  // namespace

bool RunHidden(const std::wstring& commandLine, bool hide)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (hide) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into its command line, so it gets a copy of its own.
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');

    if (!CreateProcessW(nullptr, commandBuffer.data(), nullptr, nullptr, FALSE,
                        hide ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    WaitWhilePumping(process.hProcess);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exitCode == 0;
}
