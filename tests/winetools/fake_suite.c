/* Orvix.exe stand-in: the suite executable that the launcher starts in the tests.
 *
 * On every start it appends one JSON line to "orvix-suite-record.txt" in its own folder:
 *   {"command_line":"...","current_directory":"...","pid":N}
 * (UTF-8, the command line exactly as GetCommandLineW gives it). Then, when the
 * environment variable ORVIX_SUITE_HEADLESS is set (to anything), it exits with 0 at once;
 * otherwise it shows a small window titled "Orvix All In One" naming the place it was
 * opened on (the argument after "--place", or "All In One" without one) and runs until
 * that window is closed. */

#include <windows.h>
#include <shellapi.h>
#include "json_line.h"

#define RECORD_FILE_NAME L"orvix-suite-record.txt"
#define WINDOW_CLASS L"OrvixSuiteStandIn"

/* Composes "<folder of this exe>\orvix-suite-record.txt" into `path` (MAX_PATH chars). */
static BOOL GetRecordPath(wchar_t *path)
{
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    wchar_t *slash = wcsrchr(path, L'\\');
    if (!slash || (size_t)(slash + 1 - path) + wcslen(RECORD_FILE_NAME) >= MAX_PATH)
        return FALSE;
    wcscpy(slash + 1, RECORD_FILE_NAME);
    return TRUE;
}

/* Appends this start's JSON line to the record file; failures are silent (the test then
 * finds no record and says so). */
static void RecordStart(void)
{
    wchar_t directory[MAX_PATH * 2] = L"";
    GetCurrentDirectoryW(ARRAYSIZE(directory), directory);

    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"command_line\":");
    JsonAppendString(&line, GetCommandLineW());
    JsonAppendFormat(&line, ",\"current_directory\":");
    JsonAppendString(&line, directory);
    JsonAppendFormat(&line, ",\"pid\":%lu}\n", GetCurrentProcessId());

    wchar_t path[MAX_PATH];
    if (GetRecordPath(path)) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data, (DWORD)line.length, &written, NULL);
            CloseHandle(file);
        }
    }
    JsonFree(&line);
}

static BOOL IsHeadless(void)
{
    wchar_t value[8];
    SetLastError(0);
    return GetEnvironmentVariableW(L"ORVIX_SUITE_HEADLESS", value, ARRAYSIZE(value)) > 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

/* Writes "Opened on: <place>" into `text`: the argument after "--place", or "All In One". */
static void DescribePlace(wchar_t *text, size_t size)
{
    const wchar_t *place = L"All In One";
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i + 1 < argc; i++) {
        if (wcscmp(argv[i], L"--place") == 0) {
            place = argv[i + 1];
            break;
        }
    }
    _snwprintf(text, size, L"Opened on: %ls", place);
    text[size - 1] = 0;
    LocalFree(argv);
}

static LRESULT CALLBACK SuiteWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

static int RunWindow(HINSTANCE instance)
{
    WNDCLASSW window_class = {0};
    window_class.lpfnWndProc = SuiteWindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    window_class.lpszClassName = WINDOW_CLASS;
    RegisterClassW(&window_class);

    HWND window = CreateWindowExW(0, WINDOW_CLASS, L"Orvix All In One", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 420, 160, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    wchar_t text[256];
    DescribePlace(text, ARRAYSIZE(text));
    HWND label = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE, 20, 24, 370, 60, window, NULL,
                                 instance, NULL);
    SendMessageW(label, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), TRUE);
    ShowWindow(window, SW_SHOW);

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show)
{
    (void)previous, (void)command_line, (void)show;
    RecordStart();
    if (IsHeadless())
        return 0;
    return RunWindow(instance);
}
