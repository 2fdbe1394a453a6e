// Starting the installed suite on the launcher's own place (Win32).
#include "core/launch.h"

#include <windows.h>
#include <shellapi.h>

#include "core/product.h"
#include "core/product_win.h"

void LaunchPlace()
{
    const std::wstring parameters = ComposePlaceArguments(kOwnPlace.placeId);
    const std::wstring installDir = GetInstallDir();
    const std::wstring suiteExe = GetSuiteExePath();
    // Paths are separate arguments of the shell call, so they need no quotes; an empty place id
    // starts the suite with no parameters at all.
    ShellExecuteW(nullptr, L"open", suiteExe.c_str(),
                  parameters.empty() ? nullptr : parameters.c_str(), installDir.c_str(),
                  SW_SHOWNORMAL);
}
