// Window arithmetic and the failure box text of the progress display. Platform-free.
#pragma once

#include <string>

inline constexpr wchar_t kProgressWindowClass[] = L"OrvixLauncher";
inline constexpr int kProgressWindowWidth = 460;
inline constexpr int kProgressWindowHeight = 140;

struct WindowOrigin {
    int x;
    int y;
};

// Top-left corner that centres the progress window on a screen of the given size. Signed integer
// division that drops the fraction toward zero: a 458-pixel-wide screen gives x = -1.
WindowOrigin ComputeWindowOrigin(int screenWidth, int screenHeight);

// Two line feeds, then the sentence that points to the product's web site ("https://" and the
// download host).
std::wstring ComposeDownloadHint();

// The failure box text: the message unchanged, then the download hint.
std::wstring ComposeFailureText(const std::wstring& message);
