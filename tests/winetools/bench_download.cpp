// bench_download: times the launcher's own download code, DownloadPackage with its real
// progress window and status label, for bench/download.sh. The label is subclassed to count
// its rewrites (WM_SETTEXT), which is all the subclass does.
//
//   bench_download.exe
//
// Prints {"seconds":S,"path":"...","size":N,"label_rewrites":N,"percent_rewrites":N,
// "last_text":"..."}. The time covers the DownloadPackage call alone; winhttp.dll is loaded
// before it, as the bare loop has it loaded at start-up. Exit code 0 when the download
// returned a path.

#include <windows.h>

#include <cstdio>
#include <string>

#include "core/messages.h"
#include "core/product.h"
#include "package/package.h"
#include "progress/progress.h"


namespace {

WNDPROC originalLabelProc = nullptr;
unsigned labelRewrites = 0;
unsigned percentRewrites = 0;
std::wstring lastText;

LRESULT CALLBACK CountingLabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam != 0) {
        lastText = reinterpret_cast<const wchar_t*>(lParam);
        labelRewrites++;
        if (!lastText.empty() && lastText.back() == L'%') percentRewrites++;
    }
    return CallWindowProcW(originalLabelProc, window, message, wParam, lParam);
}

// True when the progress window's label was found and now counts its rewrites.
bool CountLabelRewrites()
{
    const HWND window = FindWindowW(L"OrvixLauncher", nullptr);
    const HWND label = window ? FindWindowExW(window, nullptr, L"STATIC", nullptr) : nullptr;
    if (label == nullptr) return false;
    originalLabelProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingLabelProc)));
    return originalLabelProc != nullptr;
}

// The text as a quoted JSON string in UTF-8.
std::string JsonString(const std::wstring& text)
{
    std::string utf8(text.size() * 3 + 1, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0],
                                         static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(size > 0 ? size : 0);
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

unsigned long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain()
{
    wchar_t systemWinHttp[MAX_PATH + 16] = {};
    const UINT length = GetSystemDirectoryW(systemWinHttp, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    lstrcatW(systemWinHttp, L"\\winhttp.dll");
    LoadLibraryW(systemWinHttp);

    CreateProgressWindow(GetModuleHandleW(nullptr));
    const bool counting = CountLabelRewrites();
    SetStatusText(kStatusDownloading);
    labelRewrites = percentRewrites = 0;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const std::wstring path = DownloadPackage();
    QueryPerformanceCounter(&end);
    CloseProgressWindow();

    const double seconds =
        static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("{\"seconds\":%.6f,\"path\":%s,\"size\":%llu,\"label_found\":%s,\"label_rewrites\":%u,"
                "\"percent_rewrites\":%u,\"last_text\":%s}\n",
                seconds, JsonString(path).c_str(), FileSize(path), counting ? "true" : "false", labelRewrites,
                percentRewrites, JsonString(lastText).c_str());
    std::fflush(stdout);
    return path.empty() ? 1 : 0;
}
