/* msgbox: shows one message box, so that the harness can prove its message box probes.
 *
 *   msgbox.exe CAPTION TEXT [FLAGS]
 *
 * A backslash followed by "n" in TEXT stands for a line feed. FLAGS is the MessageBoxW
 * style as a number (decimal or 0x hex; default 0x44, Yes/No with the information icon).
 * The exit code is the button the box returned (IDYES 6, IDNO 7, IDOK 1, ...). */

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

/* Replaces each backslash-n pair in place with a line feed. */
static void ExpandLineFeeds(wchar_t *text)
{
    wchar_t *out = text;
    for (const wchar_t *in = text; *in; in++) {
        if (in[0] == L'\\' && in[1] == L'n') {
            *out++ = L'\n';
            in++;
        } else {
            *out++ = *in;
        }
    }
    *out = 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show)
{
    (void)instance, (void)previous, (void)command_line, (void)show;
    int argc = __argc;
    wchar_t **argv = __wargv;
    if (argc < 3)
        return 255;
    UINT flags = argc > 3 ? (UINT)wcstoul(argv[3], NULL, 0) : MB_YESNO | MB_ICONINFORMATION;
    ExpandLineFeeds(argv[2]);
    return MessageBoxW(NULL, argv[2], argv[1], flags);
}
