/* tar_tap: a tap in front of the tar.exe stand-in, so that a test can see the archive the
 * launcher hands to tar.exe before the launcher deletes it. Installed as the system folder's
 * tar.exe with the stand-in (tar.exe of tests/winetools) beside it as "tar-tapped.exe":
 *
 *   tar.exe -xf ARCHIVE -C FOLDER
 *
 * copies ARCHIVE to "tar-tap-copy.zip" beside itself, then runs "tar-tapped.exe" beside
 * itself with the same arguments and exits with its exit code. Exit code 5 when the stand-in
 * cannot be started or does not end within two minutes (it is then ended). The copy is made first and its
 * failure is not fatal: a test that looks for the copy finds it missing. */

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

#define TAPPED_NAME L"tar-tapped.exe"
#define COPY_NAME L"tar-tap-copy.zip"
#define TAPPED_TIMEOUT_MS 120000
#define EXIT_NO_TAPPED 5

/* "<folder of this exe>\<name>" into `path` (MAX_PATH chars); FALSE when it does not fit. */
static BOOL SiblingPath(const wchar_t *name, wchar_t *path)
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

/* Copies the archive named after an option holding "f" (-xf, -f) to COPY_NAME beside this exe. */
static void CopyArchive(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t copy[MAX_PATH];
    for (int i = 1; argv && i + 1 < argc; i++) {
        if (argv[i][0] == L'-' && wcschr(argv[i], L'f') && SiblingPath(COPY_NAME, copy)) {
            CopyFileW(argv[i + 1], copy, FALSE);
            break;
        }
    }
    LocalFree(argv);
}

/* This process's command line without its first token (the program), as given. */
static const wchar_t *ArgumentsAfterProgram(void)
{
    const wchar_t *rest = GetCommandLineW();
    if (*rest == L'"') {
        rest = wcschr(rest + 1, L'"');
        return rest ? rest + 1 : L"";
    }
    while (*rest && *rest != L' ' && *rest != L'\t')
        rest++;
    return rest;
}

/* Runs the stand-in with this process's arguments; its exit code, or EXIT_NO_TAPPED. */
static int RunTapped(void)
{
    wchar_t tapped[MAX_PATH];
    if (!SiblingPath(TAPPED_NAME, tapped))
        return EXIT_NO_TAPPED;
    const wchar_t *arguments = ArgumentsAfterProgram();
    size_t size = wcslen(tapped) + wcslen(arguments) + 4;
    wchar_t *command = malloc(size * sizeof(wchar_t));
    if (!command)
        return EXIT_NO_TAPPED;
    _snwprintf(command, size, L"\"%ls\"%ls", tapped, arguments);
    command[size - 1] = 0;

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {0};
    DWORD code = EXIT_NO_TAPPED;
    if (CreateProcessW(tapped, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, TAPPED_TIMEOUT_MS) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, EXIT_NO_TAPPED);
            code = EXIT_NO_TAPPED;
        } else if (!GetExitCodeProcess(process.hProcess, &code)) {
            code = EXIT_NO_TAPPED;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    free(command);
    return (int)code;
}

int wmain(void)
{
    CopyArchive();
    return RunTapped();
}
