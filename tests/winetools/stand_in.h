/* stand_in.h: what the stand-in system tools (tar.exe, powershell.exe) share. Each one
 *   - appends the command line it received, as one JSON line, to a record file in its own
 *     folder ("<name>-record.txt");
 *   - reads its mode from "<name>-mode.txt" in its own folder: a number means "exit with
 *     that code and touch nothing", the word "unpack" (or no file) means really unpack;
 *   - unpacks with Debian's bsdtar, which Wine starts as a Linux program: Wine gives the
 *     caller no process handle for it, so a small shell script writes bsdtar's exit status
 *     to a result file and the stand-in waits for that file.
 * Header-only (static functions), for C programs built against kernel32 only. */

#ifndef ORVIX_WINETOOLS_STAND_IN_H
#define ORVIX_WINETOOLS_STAND_IN_H

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>
#include "json_line.h"

#define STAND_IN_MODE_UNPACK (-1)
#define STAND_IN_RESULT_TIMEOUT_MS 60000
#define STAND_IN_POLL_MS 20

/* Exit codes of the stand-ins' own failures (bsdtar's own codes are 0 and 1). */
#define STAND_IN_EXIT_USAGE 2
#define STAND_IN_EXIT_NO_UNIX 3
#define STAND_IN_EXIT_TIMEOUT 4

/* $1 archive, $2 destination folder, $3 result file (all Unix paths). The status is written
 * to a side file first and then renamed, so the waiting side never reads half a number. */
static const char kExtractScript[] =
    "bsdtar -xf \"$1\" -C \"$2\"\n"
    "echo $? > \"$3.part\" && mv \"$3.part\" \"$3\"\n";

static void StandInFail(const char *text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

/* "<folder of this exe>\<name>" into `path` (MAX_PATH chars); FALSE when it does not fit. */
static BOOL StandInSiblingPath(const wchar_t *name, wchar_t *path)
{
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    wchar_t *slash = wcsrchr(path, L'\\');
    if (!slash || (size_t)(slash + 1 - path) + wcslen(name) >= MAX_PATH)
        return FALSE;
    wcscpy(slash + 1, name);
    return TRUE;
}

static BOOL StandInWriteFile(const wchar_t *path, const char *bytes, size_t count, BOOL append)
{
    HANDLE file = CreateFileW(path, append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, NULL,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, (DWORD)count, &written, NULL) && written == count;
    CloseHandle(file);
    return ok;
}

/* Reads at most size-1 bytes of a small file into `text`; FALSE when it cannot be opened. */
static BOOL StandInReadSmallFile(const wchar_t *path, char *text, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, size - 1, &read, NULL);
    CloseHandle(file);
    text[ok ? read : 0] = 0;
    return ok;
}

/* Appends {"command_line":"..."} to "<name>-record.txt" beside this exe. */
static void StandInRecord(const wchar_t *record_name)
{
    struct JsonLine line = {0};
    JsonAppendFormat(&line, "{\"command_line\":");
    JsonAppendString(&line, GetCommandLineW());
    JsonAppendFormat(&line, "}\n");
    wchar_t path[MAX_PATH];
    if (!StandInSiblingPath(record_name, path) || !StandInWriteFile(path, line.data, line.length, TRUE))
        StandInFail("cannot write the record file\n");
    JsonFree(&line);
}

/* STAND_IN_MODE_UNPACK, or the exit code that "<name>-mode.txt" asks for. */
static int StandInReadMode(const wchar_t *mode_name)
{
    wchar_t path[MAX_PATH];
    char text[64];
    if (!StandInSiblingPath(mode_name, path) || !StandInReadSmallFile(path, text, sizeof text))
        return STAND_IN_MODE_UNPACK;
    if (strncmp(text, "unpack", 6) == 0)
        return STAND_IN_MODE_UNPACK;
    return atoi(text);
}

/* The Unix path of a Windows path as UTF-8 wide text, or NULL (not under Wine, or no such
 * place). The caller frees the result with free(). */
static wchar_t *StandInUnixPath(const wchar_t *windows_path)
{
    typedef char *(CDECL * UnixFileNameCall)(const wchar_t *);
    UnixFileNameCall to_unix = (UnixFileNameCall)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                         "wine_get_unix_file_name");
    if (!to_unix)
        return NULL;
    char *unix_path = to_unix(windows_path);
    if (!unix_path)
        return NULL;
    wchar_t *wide = NULL;
    int size = MultiByteToWideChar(CP_UTF8, 0, unix_path, -1, NULL, 0);
    if (size > 0 && (wide = malloc((size_t)size * sizeof(wchar_t))) != NULL)
        MultiByteToWideChar(CP_UTF8, 0, unix_path, -1, wide, size);
    HeapFree(GetProcessHeap(), 0, unix_path);
    return wide;
}

/* Starts the Linux shell with the script and its three arguments; Wine hands back no usable
 * process handle for a Linux program, so success only means "started". */
static BOOL StandInStartShell(const wchar_t *script, const wchar_t *archive, const wchar_t *destination,
                              const wchar_t *result)
{
    size_t size = wcslen(script) + wcslen(archive) + wcslen(destination) + wcslen(result) + 64;
    wchar_t *command = malloc(size * sizeof(wchar_t));
    if (!command)
        return FALSE;
    _snwprintf(command, size, L"Z:\\bin\\sh \"%ls\" \"%ls\" \"%ls\" \"%ls\"", script, archive, destination,
               result);
    command[size - 1] = 0;
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {0};
    BOOL started = CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    free(command);
    return started;
}

/* Waits for the result file and returns the status written in it (then deletes it), or
 * STAND_IN_EXIT_TIMEOUT. */
static int StandInWaitForStatus(const wchar_t *result_path)
{
    for (DWORD waited = 0; waited < STAND_IN_RESULT_TIMEOUT_MS; waited += STAND_IN_POLL_MS) {
        char text[32];
        if (StandInReadSmallFile(result_path, text, sizeof text) && text[0] != 0) {
            DeleteFileW(result_path);
            return atoi(text);
        }
        Sleep(STAND_IN_POLL_MS);
    }
    StandInFail("bsdtar gave no result in time\n");
    return STAND_IN_EXIT_TIMEOUT;
}

/* Extracts the archive into the folder with Linux bsdtar and returns its exit status, or one
 * of the STAND_IN_EXIT_* codes when it could not be run. */
static int StandInExtract(const wchar_t *archive, const wchar_t *destination)
{
    wchar_t temp_dir[MAX_PATH], script_path[MAX_PATH], result_path[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp_dir);
    if (length == 0 || length >= MAX_PATH - 40)
        return STAND_IN_EXIT_USAGE;
    _snwprintf(script_path, MAX_PATH, L"%lsstand-in-extract-%lu.sh", temp_dir, GetCurrentProcessId());
    _snwprintf(result_path, MAX_PATH, L"%lsstand-in-extract-%lu.result", temp_dir, GetCurrentProcessId());
    DeleteFileW(result_path);
    if (!StandInWriteFile(script_path, kExtractScript, sizeof kExtractScript - 1, FALSE))
        return STAND_IN_EXIT_USAGE;

    int status = STAND_IN_EXIT_NO_UNIX;
    wchar_t *unix_script = StandInUnixPath(script_path);
    wchar_t *unix_archive = StandInUnixPath(archive);
    wchar_t *unix_destination = StandInUnixPath(destination);
    wchar_t *unix_result = StandInUnixPath(result_path);
    if (!unix_script || !unix_archive || !unix_destination || !unix_result)
        StandInFail("no Unix path for one of the files\n");
    else if (!StandInStartShell(unix_script, unix_archive, unix_destination, unix_result))
        StandInFail("cannot start the Linux shell\n");
    else
        status = StandInWaitForStatus(result_path);
    free(unix_script);
    free(unix_archive);
    free(unix_destination);
    free(unix_result);
    DeleteFileW(script_path);
    return status;
}

#endif
