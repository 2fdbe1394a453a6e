// The package download over HTTPS with WinHTTP, synchronous, on the launcher's one thread (Win32).
#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <vector>

#include "core/handle_win.h"
#include "core/product.h"
#include "core/product_win.h"
#include "package/download_progress.h"
#include "package/package.h"
#include "progress/progress.h"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace {

constexpr wchar_t kUserAgent[] = L"OrvixLauncher/1";
constexpr DWORD kReceiveBufferSize = 262144;

struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

// WinHTTP is loaded from the system folder by its full path before its first call, so the
// delay-loaded imports bind to that copy and never to a winhttp.dll beside the launcher.
bool LoadSystemWinHttp()
{
    const std::wstring systemDir = GetSystemFolder();
    if (systemDir.empty()) return false;
    const std::wstring path = systemDir + L"\\winhttp.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr;
}

// A number from the response headers; 0 when it cannot be read.
DWORD QueryNumber(HINTERNET request, DWORD infoLevel)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    WinHttpQueryHeaders(request, infoLevel | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &value, &size, WINHTTP_NO_HEADER_INDEX);
    return value;
}

// Sends the GET and waits for the response headers; null when any step fails.
InternetHandle OpenPackageRequest(HINTERNET connection)
{
    InternetHandle request(WinHttpOpenRequest(connection, L"GET", kDownloadPath, nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              WINHTTP_FLAG_SECURE));
    if (!request) return nullptr;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return nullptr;
    }
    return request;
}

// Copies the response body into the file in 256 KiB reads, refreshing the status label whenever
// the number it shows changes. True when the whole body arrived and was written.
bool ReceiveBody(HINTERNET request, HANDLE file, DWORD contentLength)
{
    std::vector<BYTE> buffer(kReceiveBufferSize);
    std::uint64_t received = 0;
    std::int64_t lastShown = kNothingShown;
    bool readFailed = false;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), kReceiveBufferSize, &read)) {
            readFailed = true;
            break;
        }
        if (read == 0) break;
        DWORD written = 0;
        const bool writeComplete =
            WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
        received += read;
        const ProgressRefresh refresh = RefreshDownloadProgress(received, contentLength, lastShown);
        lastShown = refresh.lastShown;
        if (refresh.changed) SetStatusText(refresh.text);
        if (!writeComplete) return false;
    }
    return IsDownloadComplete(received, contentLength, readFailed);
}

}  // namespace

std::wstring DownloadPackage()
{
    const std::wstring packagePath = GetTempPackagePath();
    if (packagePath.empty() || !LoadSystemWinHttp()) return std::wstring();

    InternetHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return std::wstring();
    InternetHandle connection(
        WinHttpConnect(session.get(), kDownloadHost, INTERNET_DEFAULT_HTTPS_PORT, 0));
    if (!connection) return std::wstring();
    InternetHandle request = OpenPackageRequest(connection.get());
    if (!request) return std::wstring();

    const DWORD status = QueryNumber(request.get(), WINHTTP_QUERY_STATUS_CODE);
    const DWORD contentLength = QueryNumber(request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (status != 200) return std::wstring();

    UniqueHandle file = AdoptFileHandle(CreateFileW(packagePath.c_str(), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::wstring();
    const bool complete = ReceiveBody(request.get(), file.get(), contentLength);
    file.reset();
    return complete ? packagePath : std::wstring();
}
