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

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, ComRelease>;

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
    const std::wstring programsDir = GetStartMenuProgramsDir();
    if (programsDir.empty()) return;
    const std::wstring startMenuDir = ComposeStartMenuDir(programsDir);
    CreateDirectoryW(startMenuDir.c_str(), nullptr);

    const std::wstring installDir = GetInstallDir();
    const std::wstring suiteExe = GetSuiteExePath();
    for (const Place& place : kPlaces) SaveShortcut(place, startMenuDir, installDir, suiteExe);
}
