// Installing the suite: running the unpacking tools hidden, unpacking the package and writing the
// Start menu shortcuts (Win32).
#pragma once

#include <string>

// Starts the command line as a child process (without any window when hide is set), drains the
// thread's messages every 100 ms while it runs, and returns true exactly when it was started and
// ended with exit code 0. The caller's string is not changed.
bool RunHidden(const std::wstring& commandLine, bool hide);

// Unpacks the package into the user program files folder with the system's tar.exe, or with
// PowerShell's Expand-Archive when tar is missing or fails; true when a tool succeeded and the
// suite executable exists afterwards. The package file is left for the caller to delete.
bool UnpackPackage(const std::wstring& packagePath);

// Writes one shortcut per place into the Start menu folder "Orvix". Failures are silent. Needs COM
// initialised as a single-threaded apartment on the calling thread.
void CreateShortcuts();
