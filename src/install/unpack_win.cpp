// Unpacking the suite package into the user program files folder (Win32).
#include <windows.h>
#include <shlwapi.h>

#include "core/product_win.h"
#include "install/commands.h"
#include "install/install.h"

namespace {

bool FileExists(const std::wstring& path)
{
    return PathFileExistsW(path.c_str()) != FALSE;
}

// tar.exe when the system has one; false when it is missing, cannot start or fails.
bool ExtractWithTar(const std::wstring& systemDir, const std::wstring& packagePath,
                    const std::wstring& destinationDir)
{
    const std::wstring tarPath = ComposeTarPath(systemDir);
    if (!FileExists(tarPath)) return false;
    return RunHidden(ComposeTarCommandLine(tarPath, packagePath, destinationDir), true);
}

bool ExtractWithPowerShell(const std::wstring& systemDir, const std::wstring& packagePath,
                           const std::wstring& destinationDir)
{
    return RunHidden(ComposePowerShellCommandLine(ComposePowerShellPath(systemDir), packagePath,
                                                  destinationDir),
                     true);
}

}  // namespace

bool UnpackPackage(const std::wstring& packagePath)
{
    const std::wstring destinationDir = GetUserProgramFilesDir();
    if (destinationDir.empty()) return false;
    CreateDirectoryW(destinationDir.c_str(), nullptr);

    // Both tools are started by their full path in the system folder; without it there is no
    // tool to trust.
    const std::wstring systemDir = GetSystemFolder();
    if (systemDir.empty()) return false;

    if (!ExtractWithTar(systemDir, packagePath, destinationDir) &&
        !ExtractWithPowerShell(systemDir, packagePath, destinationDir)) {
        return false;
    }
    return FileExists(GetSuiteExePath());
}
