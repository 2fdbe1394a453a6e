// The install paths as this machine and user have them (Win32).
#include "core/product_win.h"

#include <windows.h>
#include <shlobj.h>

#include "core/product.h"

namespace {

// {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
const GUID kFolderUserProgramFiles = {
    0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};
// {A77F5D77-2E2B-44C3-A6A2-ABA601054A51}
const GUID kFolderPrograms = {
    0xa77f5d77, 0x2e2b, 0x44c3, {0xa6, 0xa2, 0xab, 0xa6, 0x01, 0x05, 0x4a, 0x51}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
const GUID kFolderLocalAppData = {
    0xf1b32785, 0x6fba, 0x4fcf, {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};

// The known folder's path, created if missing; empty when the lookup fails. The returned memory
// is freed whenever a pointer came back, after a failed call too.
std::wstring GetKnownFolder(const GUID& folderId)
{
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(folderId, KF_FLAG_CREATE, nullptr, &path);
    std::wstring folder;
    if (SUCCEEDED(result) && path != nullptr) folder = path;
    if (path != nullptr) CoTaskMemFree(path);
    return folder;
}

// Fills a 260-character buffer through a call that returns the length it wrote, or the size it
// needs when the buffer is too small; empty on failure or truncation.
template <typename Fill>
std::wstring GetFixedBufferPath(Fill fill)
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = fill(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

}  // namespace

std::wstring GetUserProgramFilesDir()
{
    const std::wstring folder = GetKnownFolder(kFolderUserProgramFiles);
    if (!folder.empty()) return folder;
    const std::wstring fallback = ComposeUserProgramFilesDir(GetKnownFolder(kFolderLocalAppData));
    if (!fallback.empty()) CreateDirectoryW(fallback.c_str(), nullptr);
    return fallback;
}

std::wstring GetStartMenuProgramsDir()
{
    return GetKnownFolder(kFolderPrograms);
}

std::wstring GetInstallDir()
{
    return ComposeInstallDir(GetUserProgramFilesDir());
}

std::wstring GetSuiteExePath()
{
    return ComposeSuiteExePath(GetInstallDir());
}

std::wstring GetTempPackagePath()
{
    const std::wstring tempDir = GetFixedBufferPath(
        [](wchar_t* buffer, UINT size) { return static_cast<UINT>(GetTempPathW(size, buffer)); });
    if (tempDir.empty()) return std::wstring();
    return ComposeTempPackagePath(tempDir);
}

std::wstring GetSystemFolder()
{
    return GetFixedBufferPath(
        [](wchar_t* buffer, UINT size) { return GetSystemDirectoryW(buffer, size); });
}
