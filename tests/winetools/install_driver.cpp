// install_driver: calls the launcher's own installation steps one at a time, for the Wine
// tests of unpacking and of the Start menu shortcuts.
//
//   install_driver.exe unpack PACKAGE   UnpackPackage(PACKAGE)
//   install_driver.exe shortcuts        CreateShortcuts(), in a single-threaded COM apartment
//
// Prints one JSON line (UTF-8) with the outcome and the folders the launcher's code used:
//   {"result":bool|null,"destination":"...","install_dir":"...","suite_exe":"..."}
// ("result" is null for shortcuts, which report nothing). Exit code 0, or 2 on a usage error.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "core/product_win.h"
#include "install/install.h"

namespace {

// The text as a quoted JSON string in UTF-8.
std::string ToJsonString(const std::wstring& text)
{
    std::string utf8(text.size() * 4, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(size > 0 ? size : 0);
    std::string json = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

void PrintOutcome(const char* result)
{
    std::printf("{\"result\":%s,\"destination\":%s,\"install_dir\":%s,\"suite_exe\":%s}\n", result,
                ToJsonString(GetUserProgramFilesDir()).c_str(),
                ToJsonString(GetInstallDir()).c_str(), ToJsonString(GetSuiteExePath()).c_str());
}

}  // namespace

int wmain()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int exitCode = 0;
    if (argv != nullptr && argc == 3 && std::wstring(argv[1]) == L"unpack") {
        PrintOutcome(UnpackPackage(argv[2]) ? "true" : "false");
    } else if (argv != nullptr && argc == 2 && std::wstring(argv[1]) == L"shortcuts") {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CreateShortcuts();
        PrintOutcome("null");
    } else {
        std::fprintf(stderr, "usage: install_driver.exe unpack PACKAGE | shortcuts\n");
        exitCode = 2;
    }
    LocalFree(argv);
    return exitCode;
}
