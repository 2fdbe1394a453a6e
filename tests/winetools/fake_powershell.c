/* powershell.exe stand-in, installed as system32\WindowsPowerShell\v1.0\powershell.exe in
 * the test prefix (the prefix must prefer it over Wine's own stub: powershell.exe=n).
 *
 * Records its command line in "powershell-record.txt" beside itself, then follows
 * "powershell-mode.txt" beside itself: a number makes it exit with that code at once;
 * "unpack" (or no such file) runs the one command it understands,
 *
 *   -Command "Expand-Archive -Force -LiteralPath '<archive>' -DestinationPath '<folder>'"
 *
 * reading both single-quoted literals as PowerShell does (a doubled quote stands for one;
 * the apostrophe and U+2018..U+201B are all single quotes), and extracts with Debian's
 * bsdtar (see stand_in.h). A command of any other shape, for example one whose literal
 * was ended early by an undoubled apostrophe, fails with exit code 1 as PowerShell's
 * parser would. */

#include "stand_in.h"
#include <shellapi.h>

#define COMMAND_PREFIX L"Expand-Archive -Force -LiteralPath "
#define COMMAND_MIDDLE L" -DestinationPath "

static BOOL IsSingleQuote(wchar_t c)
{
    return c == L'\'' || (c >= 0x2018 && c <= 0x201B);
}

/* Reads a single-quoted literal at *text into `value` (capacity `size`), moving *text past
 * its closing quote; FALSE when there is no complete literal there. */
static BOOL ReadQuotedLiteral(const wchar_t **text, wchar_t *value, size_t size)
{
    const wchar_t *c = *text;
    if (!IsSingleQuote(*c))
        return FALSE;
    size_t length = 0;
    for (c++; *c; c++) {
        if (IsSingleQuote(*c)) {
            if (!IsSingleQuote(c[1])) {
                value[length] = 0;
                *text = c + 1;
                return TRUE;
            }
            c++; /* a doubled quote stands for one */
        }
        if (length + 1 >= size)
            return FALSE;
        value[length++] = *c;
    }
    return FALSE;
}

static BOOL SkipText(const wchar_t **text, const wchar_t *expected)
{
    size_t length = wcslen(expected);
    if (wcsncmp(*text, expected, length) != 0)
        return FALSE;
    *text += length;
    return TRUE;
}

/* The -Command text: the arguments after -Command joined by single spaces, as PowerShell
 * takes them. NULL when there is no -Command; the caller frees the result. */
static wchar_t *JoinCommandText(int argc, wchar_t **argv)
{
    int first = 1;
    while (first < argc && _wcsicmp(argv[first], L"-Command") != 0)
        first++;
    if (++first >= argc)
        return NULL;
    size_t size = 1;
    for (int i = first; i < argc; i++)
        size += wcslen(argv[i]) + 1;
    wchar_t *text = calloc(size, sizeof(wchar_t));
    for (int i = first; text && i < argc; i++) {
        if (i > first)
            wcscat(text, L" ");
        wcscat(text, argv[i]);
    }
    return text;
}

static BOOL ParseExpandArchive(const wchar_t *command, wchar_t *archive, wchar_t *folder, size_t size)
{
    return SkipText(&command, COMMAND_PREFIX) && ReadQuotedLiteral(&command, archive, size) &&
           SkipText(&command, COMMAND_MIDDLE) && ReadQuotedLiteral(&command, folder, size) && *command == 0;
}

int wmain(void)
{
    StandInRecord(L"powershell-record.txt");
    int mode = StandInReadMode(L"powershell-mode.txt");
    if (mode != STAND_IN_MODE_UNPACK)
        return mode;

    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t *command = argv ? JoinCommandText(argc, argv) : NULL;
    wchar_t archive[MAX_PATH * 2], folder[MAX_PATH * 2];
    int status = 1;
    if (command && ParseExpandArchive(command, archive, folder, MAX_PATH * 2))
        status = StandInExtract(archive, folder) == 0 ? 0 : 1;
    else
        StandInFail("not an Expand-Archive command this stand-in understands\n");
    free(command);
    LocalFree(argv);
    return status;
}
