/* tar.exe stand-in for the test prefix's system folder (Wine has no tar.exe).
 *
 *   tar.exe -xf ARCHIVE -C FOLDER
 *
 * Records its command line in "tar-record.txt" beside itself, then follows "tar-mode.txt"
 * beside itself: a number makes it exit with that code at once; "unpack" (or no such file)
 * extracts ARCHIVE into FOLDER with Debian's bsdtar, the same engine as the tar.exe that
 * Windows ships, and exits with bsdtar's status. See stand_in.h. */

#include "stand_in.h"
#include <shellapi.h>

/* Finds the archive after an option holding "f" (-xf, -f) and the folder after -C. */
static BOOL ParseArguments(int argc, wchar_t **argv, const wchar_t **archive, const wchar_t **folder)
{
    *archive = *folder = NULL;
    for (int i = 1; i + 1 < argc; i++) {
        if (wcscmp(argv[i], L"-C") == 0)
            *folder = argv[++i];
        else if (argv[i][0] == L'-' && wcschr(argv[i], L'f'))
            *archive = argv[++i];
    }
    return *archive && *folder;
}

int wmain(void)
{
    StandInRecord(L"tar-record.txt");
    int mode = StandInReadMode(L"tar-mode.txt");
    if (mode != STAND_IN_MODE_UNPACK)
        return mode;

    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t *archive, *folder;
    int status = STAND_IN_EXIT_USAGE;
    if (argv && ParseArguments(argc, argv, &archive, &folder))
        status = StandInExtract(archive, folder);
    else
        StandInFail("usage: tar.exe -xf ARCHIVE -C FOLDER\n");
    LocalFree(argv);
    return status;
}
