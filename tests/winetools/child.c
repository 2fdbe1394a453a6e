/* child.exe: a small child process for the hidden process runner's tests.
 *
 *   child.exe EXIT_CODE [MILLISECONDS [RECORD_FILE]]
 *
 * Waits MILLISECONDS (default 0), then, when RECORD_FILE is given, writes to it one JSON
 * line with how it was asked to show itself:
 *   {"uses_show_window":bool,"show_window":N}
 * and exits with EXIT_CODE. */

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void RecordStartup(const wchar_t *path)
{
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    char line[96];
    snprintf(line, sizeof line, "{\"uses_show_window\":%s,\"show_window\":%u}\n",
             (startup.dwFlags & STARTF_USESHOWWINDOW) ? "true" : "false", startup.wShowWindow);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
        CloseHandle(file);
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2)
        return 2;
    int exit_code = _wtoi(argv[1]);
    if (argc > 2)
        Sleep((DWORD)_wtoi(argv[2]));
    if (argc > 3)
        RecordStartup(argv[3]);
    return exit_code;
}
