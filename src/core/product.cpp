// Composition of the install paths and the place arguments.
#include "core/product.h"

#include "build_config.h"

const wchar_t kDownloadHost[] = ORVIX_DOWNLOAD_HOST_W;

std::wstring ComposeUserProgramFilesDir(const std::wstring& localAppDataDir)
{
    if (localAppDataDir.empty()) return std::wstring();
    return localAppDataDir + L"\\Programs";
}

std::wstring ComposeInstallDir(const std::wstring& userProgramFilesDir)
{
    return userProgramFilesDir + L"\\" + kProductFolderName;
}

std::wstring ComposeSuiteExePath(const std::wstring& installDir)
{
    return installDir + L"\\" + kSuiteExeName;
}

std::wstring ComposeTempPackagePath(const std::wstring& tempDir)
{
    return tempDir + kPackageFileName;
}

std::wstring ComposePlaceArguments(const std::wstring& placeId)
{
    if (placeId.empty()) return std::wstring();
    return L"--place " + placeId;
}
