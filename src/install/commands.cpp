// Command lines of the unpacking tools and the contents of the Start menu shortcuts.
#include "install/commands.h"

std::wstring ComposeTarPath(const std::wstring& systemDir)
{
    return systemDir + L"\\tar.exe";
}

std::wstring ComposePowerShellPath(const std::wstring& systemDir)
{
    return systemDir + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

std::wstring ComposeTarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                                   const std::wstring& destinationDir)
{
    return L"\"" + tarPath + L"\" -xf \"" + packagePath + L"\" -C \"" + destinationDir + L"\"";
}

std::wstring EscapePowerShellLiteral(const std::wstring& text)
{
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        const bool isQuote = c == L'\'' || (c >= L'\u2018' && c <= L'\u201B');
        escaped += c;
        if (isQuote) escaped += c;
    }
    return escaped;
}

std::wstring ComposePowerShellCommandLine(const std::wstring& powerShellPath,
                                          const std::wstring& packagePath,
                                          const std::wstring& destinationDir)
{
    return L"\"" + powerShellPath +
           L"\" -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force -LiteralPath '" +
           EscapePowerShellLiteral(packagePath) + L"' -DestinationPath '" +
           EscapePowerShellLiteral(destinationDir) + L"'\"";
}

std::wstring ComposeStartMenuDir(const std::wstring& programsDir)
{
    return programsDir + L"\\" + kBrand;
}

std::wstring ComposeShortcutPath(const std::wstring& startMenuDir, const Place& place)
{
    return startMenuDir + L"\\" + place.shortcutName + L".lnk";
}

std::wstring ComposePlaceIconPath(const std::wstring& installDir, const Place& place)
{
    return installDir + L"\\icons\\" + place.iconBaseName + L".ico";
}

IconLocation ChooseShortcutIcon(const std::wstring& placeIconPath, bool placeIconExists,
                                const std::wstring& suiteExePath)
{
    return placeIconExists ? IconLocation{placeIconPath, 0} : IconLocation{suiteExePath, 0};
}
