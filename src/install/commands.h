// Command lines of the unpacking tools and the contents of the Start menu shortcuts. Platform-free.
#pragma once

#include <string>

#include "core/product.h"

// The system's tar.exe inside the given system folder.
std::wstring ComposeTarPath(const std::wstring& systemDir);

// PowerShell inside the given system folder, by its full path: a bare name would be searched for
// first in the launcher's own folder.
std::wstring ComposePowerShellPath(const std::wstring& systemDir);

// "<tar>" -xf "<package>" -C "<destination>": Windows paths cannot hold a double quote, so the
// line is always well formed.
std::wstring ComposeTarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                                   const std::wstring& destinationDir);

// The text as the inside of a single-quoted PowerShell literal: every single quote PowerShell
// recognises (the apostrophe and U+2018 to U+201B) is doubled.
std::wstring EscapePowerShellLiteral(const std::wstring& text);

// "<powershell>" -NoProfile -ExecutionPolicy Bypass -Command "Expand-Archive -Force -LiteralPath
// '<package>' -DestinationPath '<destination>'"
std::wstring ComposePowerShellCommandLine(const std::wstring& powerShellPath,
                                          const std::wstring& packagePath,
                                          const std::wstring& destinationDir);

// The Start menu folder: the Programs folder followed by "\Orvix".
std::wstring ComposeStartMenuDir(const std::wstring& programsDir);

// The shortcut file of a place: the Start menu folder, the shortcut name unchanged and ".lnk".
std::wstring ComposeShortcutPath(const std::wstring& startMenuDir, const Place& place);

// The place's own icon file in the installed suite: <install>\icons\<base>.ico.
std::wstring ComposePlaceIconPath(const std::wstring& installDir, const Place& place);

struct IconLocation {
    std::wstring path;
    int index;
};

// The place's icon when its file exists, else the suite executable's first icon.
IconLocation ChooseShortcutIcon(const std::wstring& placeIconPath, bool placeIconExists,
                                const std::wstring& suiteExePath);
