// The launcher's fixed names: product settings, the place table with the own place, and the
// composition of the install paths from the folders the system reports. Platform-free.
#pragma once

#include <array>
#include <cstddef>
#include <string>

// Product settings. The download host is fixed when the launcher is built.
extern const wchar_t kDownloadHost[];
inline constexpr wchar_t kDownloadPath[] = L"/downloads/Orvix-Windows.zip";
inline constexpr wchar_t kProductFolderName[] = L"Orvix All In One";
inline constexpr wchar_t kSuiteExeName[] = L"Orvix.exe";

// Other fixed names.
inline constexpr wchar_t kBrand[] = L"Orvix";
inline constexpr wchar_t kSuiteName[] = L"Orvix All In One";
inline constexpr wchar_t kPackageFileName[] = L"Orvix-Windows.zip";
inline constexpr wchar_t kLauncherFileName[] = L"Orvix-Email-Windows.exe";

// One place of the suite: its Start menu shortcut name (also the shortcut's description), the id
// that follows "--place" on the suite's command line (empty: no arguments) and its icon's base name.
struct Place {
    const wchar_t* shortcutName;
    const wchar_t* placeId;
    const wchar_t* iconBaseName;
};

inline constexpr std::array<Place, 10> kPlaces = {{
    {L"Orvix All In One", L"", L"suite"},
    {L"Orvix Messaging", L"messages", L"chat"},
    {L"Orvix Camera", L"camera", L"camera"},
    {L"Orvix Contacts", L"contacts", L"contacts"},
    {L"Orvix Email", L"email", L"email"},
    {L"Orvix Friends In Common", L"them", L"friends"},
    {L"Orvix Map", L"map", L"map"},
    {L"Orvix Music", L"music", L"music"},
    {L"Orvix Alarm and Reminders", L"alarm", L"alarm"},
    {L"Orvix Storage Management", L"storage", L"storage"},
}};

// This launcher is made for the Email row.
inline constexpr std::size_t kOwnPlaceIndex = 4;
inline constexpr const Place& kOwnPlace = kPlaces[kOwnPlaceIndex];
// The caption of the question and failure boxes and the progress window's title.
inline constexpr const wchar_t* kOwnCaption = kOwnPlace.shortcutName;

// The user program files folder when only the local application data folder is known: that folder
// followed by "\Programs", as Windows lays it out. Empty in, empty out.
std::wstring ComposeUserProgramFilesDir(const std::wstring& localAppDataDir);

// The install folder: the user program files folder, a backslash, the product folder name. An empty
// folder part gives "\Orvix All In One".
std::wstring ComposeInstallDir(const std::wstring& userProgramFilesDir);

// The suite executable inside the install folder.
std::wstring ComposeSuiteExePath(const std::wstring& installDir);

// The temporary package file: the temporary folder as the system reports it (it already ends in a
// backslash) directly followed by the package file name.
std::wstring ComposeTempPackagePath(const std::wstring& tempDir);

// The suite's parameter text for a place: "--place " and the id, or empty for an empty id.
std::wstring ComposePlaceArguments(const std::wstring& placeId);
