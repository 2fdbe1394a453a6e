/* hold_file: keeps a file open without sharing, so that no other process can open it, for the
 * test of a launcher that cannot write its temporary package file.
 *
 *   hold_file.exe PATH SECONDS
 *
 * Opens (or creates) PATH for reading and writing with share mode 0, prints "held" on stdout
 * once the file is open, then waits SECONDS and exits with 0; the test normally stops it
 * before. Exit code 1 when the file cannot be opened, 2 on wrong usage. */

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

static void Say(const char *text)
{
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteFile(out, text, (DWORD)strlen(text), &written, NULL);
    FlushFileBuffers(out);
}

int wmain(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        Say("usage: hold_file.exe PATH SECONDS\n");
        return 2;
    }
    DWORD seconds = (DWORD)wcstoul(argv[2], NULL, 10);
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    LocalFree(argv);
    if (file == INVALID_HANDLE_VALUE) {
        Say("cannot open the file\n");
        return 1;
    }
    Say("held\n");
    Sleep(seconds * 1000);
    CloseHandle(file);
    return 0;
}
