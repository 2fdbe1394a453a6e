/* static_winhttp: a program that imports WinHTTP through its static import table and does
 * nothing to restrict where DLLs come from. Beside a planted winhttp.dll (and with the
 * prefix told to prefer a native winhttp.dll) it loads the planted copy: the negative
 * control of the DLL-planting test.
 *
 *   static_winhttp.exe
 *
 * Prints {"module":"<path of the winhttp.dll in use>","session":bool}; exit code 0. */

#include <windows.h>
#include <winhttp.h>
#include "json_line.h"

int wmain(void)
{
    /* The call keeps WinHttpOpen in the import table; its result only shows which copy ran. */
    HINTERNET session = WinHttpOpen(L"OrvixHarness/1", 4 /* automatic proxy */, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    wchar_t module_path[MAX_PATH] = L"";
    HMODULE module = GetModuleHandleW(L"winhttp.dll");
    if (module)
        GetModuleFileNameW(module, module_path, MAX_PATH);

    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"module\":");
    JsonAppendString(&line, module_path);
    JsonAppendFormat(&line, ",\"session\":%s}\n", session ? "true" : "false");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data, (DWORD)line.length, &written, NULL);
    JsonFree(&line);
    if (session)
        WinHttpCloseHandle(session);
    return 0;
}
