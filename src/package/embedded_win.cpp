// Finds the suite package that the launcher's own file may carry behind its package trailer and
// copies it to the temporary package file.
#include "package/package.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "core/handle_win.h"
#include "core/product_win.h"
#include "package/trailer.h"

namespace {

// The launcher's own file. Empty when the system cannot tell it, or when the path does not fit the
// 260-character buffer: a cut-off path could name another file, so no package is looked for.
std::wstring GetOwnFilePath()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

void MoveTo(HANDLE file, std::uint64_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
}

// Reads exactly size bytes at offset; false when the read fails or delivers fewer.
bool ReadExactlyAt(HANDLE file, std::uint64_t offset, unsigned char* buffer, DWORD size)
{
    MoveTo(file, offset);
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// The package before the certificate table of a signed launcher file of fileSize bytes.
PackageLocation FindSignedPackage(HANDLE file, std::int64_t fileSize)
{
    const PackageLocation none{false, 0, 0};
    unsigned char head[kPeHeadSize];
    const DWORD headSize = static_cast<DWORD>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(fileSize), kPeHeadSize));
    if (!ReadExactlyAt(file, 0, head, headSize)) return none;

    const FileRegion table = FindCertificateTable(head, headSize);
    if (!EndsAtEndOfFile(table, fileSize)) return none;

    unsigned char window[kSignedTrailerWindow];
    const DWORD windowSize = static_cast<DWORD>(std::min<std::uint64_t>(table.offset, kSignedTrailerWindow));
    if (!ReadExactlyAt(file, table.offset - windowSize, window, windowSize)) return none;
    return LocateSignedPackage(window, windowSize, table.offset);
}

// Where the package lies in the open launcher file: behind the trailer in the last 16 bytes, or,
// when those do not hold the magic, before the certificate table of a signed file.
PackageLocation FindEmbeddedPackage(HANDLE file)
{
    const PackageLocation none{false, 0, 0};
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= static_cast<LONGLONG>(kTrailerSize)) return none;

    unsigned char trailer[kTrailerSize];
    if (!ReadExactlyAt(file, static_cast<std::uint64_t>(size.QuadPart) - kTrailerSize, trailer, kTrailerSize)) {
        return none;
    }
    if (HasTrailerMagic(trailer)) return LocatePackage(trailer, size.QuadPart);
    return FindSignedPackage(file, size.QuadPart);
}

// Copies length bytes from the current position of source to target, one buffer at a time. True
// when every byte was read and written; after a failure target holds the part copied.
bool CopyPackage(HANDLE source, HANDLE target, std::uint64_t length)
{
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCopyChunkSize]);
    if (!buffer) return false;

    std::uint64_t remaining = length;
    bool chunkComplete = true;
    while (remaining > 0 && chunkComplete) {
        DWORD read = 0;
        chunkComplete = ReadFile(source, buffer.get(), NextChunkSize(remaining), &read, nullptr) && read > 0;
        if (chunkComplete) {
            DWORD written = 0;
            chunkComplete = WriteFile(target, buffer.get(), read, &written, nullptr) && written == read;
        }
        remaining -= read;
    }
    return remaining == 0 && chunkComplete;
}

}  // namespace

std::wstring ExtractEmbeddedPackage()
{
    const std::wstring ownPath = GetOwnFilePath();
    if (ownPath.empty()) return std::wstring();

    UniqueHandle launcher = AdoptFileHandle(CreateFileW(ownPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
    if (!launcher) return std::wstring();

    const PackageLocation package = FindEmbeddedPackage(launcher.get());
    if (!package.found) return std::wstring();
    MoveTo(launcher.get(), package.offset);

    const std::wstring tempPath = GetTempPackagePath();
    if (tempPath.empty()) return std::wstring();
    UniqueHandle temp = AdoptFileHandle(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!temp) return std::wstring();

    const bool copied = CopyPackage(launcher.get(), temp.get(), package.length);
    temp.reset();
    return copied ? tempPath : std::wstring();
}
