// The progress window, its status label and the failure box (Win32).
#include "progress/progress.h"

#include "core/product.h"
#include "progress/progress_text.h"

namespace {

HWND progressWindow = nullptr;
HWND statusLabel = nullptr;

void RegisterProgressClass(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = LauncherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kProgressWindowClass;
    RegisterClassW(&windowClass);
}

// The label font lives until the process ends; it is never deleted.
HFONT CreateLabelFont()
{
    return CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

}  // namespace

void CreateProgressWindow(HINSTANCE instance)
{
    RegisterProgressClass(instance);
    const WindowOrigin origin =
        ComputeWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    progressWindow = CreateWindowExW(WS_EX_TOPMOST, kProgressWindowClass, kOwnCaption,
                                     WS_CAPTION | WS_SYSMENU, origin.x, origin.y,
                                     kProgressWindowWidth, kProgressWindowHeight, nullptr, nullptr,
                                     instance, nullptr);
    statusLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 20, 24, 410, 60,
                                  progressWindow, nullptr, instance, nullptr);
    SendMessageW(statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(CreateLabelFont()), 1);
    ShowWindow(progressWindow, SW_SHOW);
    PumpMessages();
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void SetStatusText(const std::wstring& text)
{
    if (statusLabel != nullptr) SetWindowTextW(statusLabel, text.c_str());
    PumpMessages();
}

void CloseProgressWindow()
{
    if (progressWindow != nullptr) DestroyWindow(progressWindow);
    progressWindow = nullptr;
    statusLabel = nullptr;
}

void ShowFailure(const std::wstring& message)
{
    CloseProgressWindow();
    const std::wstring text = ComposeFailureText(message);
    MessageBoxW(nullptr, text.c_str(), kOwnCaption, MB_OK | MB_ICONERROR);
}

// Close requests (close button, Alt+F4, the system menu's Close) are ignored: the installation
// cannot be interrupted from the window.
LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}
