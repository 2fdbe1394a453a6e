// The Start menu shortcuts, one per place, written by the shell link object (Win32, COM).
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

#include "core/product.h"
#include "core/product_win.h"
#include "install/commands.h"
#include "install/install.h"

namespace {

// {A77F5D77-2E2B-44C3-A6A2-ABA601054A51}
const GUID kFolderPrograms = {
    0xa77f5d77, 0x2e2b, 0x44c3, {0xa6, 0xa2, 0xab, 0xa6, 0x01, 0x05, 0x4a, 0x51}};

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, ComRelease>;

// The user's Start menu programs folder, created if missing; empty when the lookup fails.
std::wstring GetProgramsDir()
{
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(kFolderPrograms, KF_FLAG_CREATE, nullptr, &path);
    std::wstring folder;
    if (SUCCEEDED(result) && path != nullptr) folder = path;
    if (path != nullptr) CoTaskMemFree(path);
    return folder;
}

void SaveShortcut(const Place& place, const std::wstring& startMenuDir,
                  const std::wstring& installDir, const std::wstring& suiteExe)
{
    IShellLinkW* rawLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&rawLink)))) {
        return;
    }
    ComPtr<IShellLinkW> link(rawLink);
    link->SetPath(suiteExe.c_str());
    link->SetWorkingDirectory(installDir.c_str());
    link->SetArguments(ComposePlaceArguments(place.placeId).c_str());
    const std::wstring placeIcon = ComposePlaceIconPath(installDir, place);
    const IconLocation icon =
        ChooseShortcutIcon(placeIcon, PathFileExistsW(placeIcon.c_str()) != FALSE, suiteExe);
    link->SetIconLocation(icon.path.c_str(), icon.index);
    link->SetDescription(place.shortcutName);

    IPersistFile* rawFile = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) return;
    ComPtr<IPersistFile> file(rawFile);
    file->Save(ComposeShortcutPath(startMenuDir, place).c_str(), TRUE);
}

}  // namespace

void CreateShortcuts()
{
    // Without the Programs folder there is no Start menu to write to; the shortcuts are skipped
    // rather than written to a folder at the root of the current drive.
    const std::wstring programsDir = GetProgramsDir();
    if (programsDir.empty()) return;
    const std::wstring startMenuDir = ComposeStartMenuDir(programsDir);
    CreateDirectoryW(startMenuDir.c_str(), nullptr);

    const std::wstring installDir = GetInstallDir();
    const std::wstring suiteExe = GetSuiteExePath();
    for (const Place& place : kPlaces) SaveShortcut(place, startMenuDir, installDir, suiteExe);
}
