// bench_embedded: times the launcher's own copy of an embedded package, ExtractEmbeddedPackage,
// for bench/embedded_copy.sh. The program carries the package itself: orvix-pack appends it to
// this file just as it does to the launcher, so ExtractEmbeddedPackage finds it behind the
// trailer of this program's own file.
//
//   bench_embedded.exe
//
// Prints {"seconds":S,"path":"...","size":N}: the time of the ExtractEmbeddedPackage call
// alone, the temporary package file it returned and that file's size. The file is left in
// place for the caller to compare and delete. Exit code 0 when the call returned a path.

#include <windows.h>

#include <cstdio>
#include <string>

#include "package/package.h"

namespace {

double SecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The size of the file at path, or -1 when it cannot be read.
long long GetSizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The path as a quoted JSON string in UTF-8 (a Windows path needs only its backslashes escaped).
std::string JsonPath(const std::wstring& path)
{
    std::string utf8(path.size() * 3 + 1, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), static_cast<int>(path.size()), &utf8[0],
                                         static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(size > 0 ? size : 0);
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

int wmain()
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const std::wstring path = ExtractEmbeddedPackage();
    const double seconds = SecondsSince(start);

    std::printf("{\"seconds\":%.6f,\"path\":%s,\"size\":%lld}\n", seconds, JsonPath(path).c_str(), GetSizeOf(path));
    return path.empty() ? 1 : 0;
}
