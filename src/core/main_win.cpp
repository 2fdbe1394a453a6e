// The launcher's entry point and the whole of its run: start the installed suite, or ask, fetch
// the package (from the launcher's own file or by download), install it and start the suite.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <string>

#include "core/launch.h"
#include "core/messages.h"
#include "core/product.h"
#include "core/product_win.h"
#include "install/install.h"
#include "package/package.h"
#include "progress/progress.h"

namespace {

enum ExitCode : int { kExitOk = 0, kExitFailed = 1 };

// DLLs loaded later (WinHTTP, and what the shell pulls in) come from the system folder only, never
// from the launcher's own folder, which is often Downloads. The call is looked up at run time
// because Windows 7 has it only with a later update.
void RestrictDllSearchToSystemFolder()
{
    using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool IsSuiteInstalled()
{
    return PathFileExistsW(GetSuiteExePath().c_str()) != FALSE;
}

bool AskToInstall()
{
    const std::wstring question = ComposeQuestionText();
    return MessageBoxW(nullptr, question.c_str(), kOwnCaption, MB_YESNO | MB_ICONINFORMATION) ==
           IDYES;
}

// Unpacks the package, deletes it whatever the result, writes the shortcuts and starts the suite
// once the progress window is gone.
int InstallAndLaunch(const std::wstring& packagePath)
{
    SetStatusText(kStatusInstalling);
    const bool unpacked = UnpackPackage(packagePath);
    DeleteFileW(packagePath.c_str());
    if (!unpacked) {
        ShowFailure(kUnpackFailedMessage);
        return kExitFailed;
    }
    SetStatusText(kStatusAddingShortcuts);
    CreateShortcuts();
    CloseProgressWindow();
    LaunchPlace();
    return kExitOk;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    RestrictDllSearchToSystemFolder();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    std::wstring packagePath = ExtractEmbeddedPackage();
    if (!packagePath.empty()) {
        // A launcher that carries the package always installs it, without asking.
        CreateProgressWindow(instance);
        return InstallAndLaunch(packagePath);
    }
    if (IsSuiteInstalled()) {
        LaunchPlace();
        return kExitOk;
    }
    if (!AskToInstall()) return kExitOk;

    CreateProgressWindow(instance);
    SetStatusText(kStatusDownloading);
    packagePath = DownloadPackage();
    if (packagePath.empty()) {
        ShowFailure(kDownloadFailedMessage);
        return kExitFailed;
    }
    return InstallAndLaunch(packagePath);
}
