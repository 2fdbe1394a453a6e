// The texts the launcher shows: the question, the step texts and the failure messages. Platform-free.
#pragma once

#include <string>

inline constexpr wchar_t kStatusDownloading[] = L"Downloading Orvix All In One\u2026";
inline constexpr wchar_t kStatusInstalling[] = L"Installing Orvix All In One\u2026";
inline constexpr wchar_t kStatusAddingShortcuts[] = L"Adding the Start menu shortcuts\u2026";

inline constexpr wchar_t kDownloadFailedMessage[] =
    L"Could not download Orvix All In One. Check the internet connection and try again.";
inline constexpr wchar_t kUnpackFailedMessage[] = L"Could not unpack Orvix All In One.";

// The question asked when the suite is not installed: the own caption, then the fixed text.
std::wstring ComposeQuestionText();
