// The install paths as this machine and user have them (Win32).
#pragma once

#include <string>

// The user's own program files folder. Where the system has no such known folder (older Windows,
// Wine) it is the local application data folder followed by "\Programs", created if missing.
// Empty only when neither folder can be found.
std::wstring GetUserProgramFilesDir();

// The user's own Start menu programs folder, created if missing; empty when it cannot be found.
std::wstring GetStartMenuProgramsDir();

// The install folder: the user program files folder followed by "\Orvix All In One".
std::wstring GetInstallDir();

// The suite executable inside the install folder.
std::wstring GetSuiteExePath();

// The temporary package file in the user's temporary folder; empty when the temporary folder
// cannot be read or does not fit its 260-character buffer.
std::wstring GetTempPackagePath();

// The Windows system folder; empty when it cannot be read or does not fit its 260-character buffer.
std::wstring GetSystemFolder();
