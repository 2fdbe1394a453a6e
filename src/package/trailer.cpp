// The package trailer decision and the trailer's byte layout. Every multi-byte field is decoded from
// single bytes, little-endian, as the file stores it.
#include "package/trailer.h"

#include <algorithm>

namespace {

// PE header layout: offsets and values used to reach the certificate table.
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kPeOffsetField = 0x3C;
constexpr std::size_t kPeSignatureSize = 4;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSizeOfOptionalHeaderField = 16;  // inside the COFF header
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kPe32RvaCountField = 92;  // inside the optional header
constexpr std::size_t kPe32DirectoriesField = 96;
constexpr std::size_t kPe32PlusRvaCountField = 108;
constexpr std::size_t kPe32PlusDirectoriesField = 112;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::size_t kDirectoryEntrySize = 8;

std::uint16_t ReadU16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t ReadU64(const unsigned char* p)
{
    return static_cast<std::uint64_t>(ReadU32(p)) | (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}

// True when [offset, offset + size) lies inside a buffer of bufferSize bytes.
bool FitsIn(std::uint64_t offset, std::uint64_t size, std::size_t bufferSize)
{
    return offset <= bufferSize && size <= bufferSize - offset;
}

// The package announced by a trailer that starts at trailerStart; the package must hold at least
// one byte and fit between byte 0 and the trailer.
PackageLocation DecodeTrailerAt(const unsigned char* trailer, std::uint64_t trailerStart)
{
    if (!HasTrailerMagic(trailer)) return PackageLocation{false, 0, 0};
    const std::uint64_t length = ReadU64(trailer + sizeof(kTrailerMagic));
    if (length == 0 || length > trailerStart) return PackageLocation{false, 0, 0};
    return PackageLocation{true, trailerStart - length, length};
}

// The offset of the "PE\0\0" signature the DOS header points to, or false when head is no PE image.
bool FindPeSignature(const unsigned char* head, std::size_t headSize, std::uint64_t* peOffset)
{
    if (headSize < kDosHeaderSize || head[0] != 'M' || head[1] != 'Z') return false;
    const std::uint64_t offset = ReadU32(head + kPeOffsetField);
    if (!FitsIn(offset, kPeSignatureSize + kCoffHeaderSize, headSize)) return false;
    const unsigned char* signature = head + offset;
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) return false;
    *peOffset = offset;
    return true;
}

bool AreAllZero(const unsigned char* bytes, std::size_t count)
{
    return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

}  // namespace

bool HasTrailerMagic(const unsigned char* bytes)
{
    return std::equal(kTrailerMagic, kTrailerMagic + sizeof(kTrailerMagic), bytes,
                      [](char m, unsigned char b) { return static_cast<unsigned char>(m) == b; });
}

PackageLocation LocatePackage(const unsigned char* trailer, std::int64_t fileSize)
{
    if (fileSize <= static_cast<std::int64_t>(kTrailerSize)) return PackageLocation{false, 0, 0};
    return DecodeTrailerAt(trailer, static_cast<std::uint64_t>(fileSize) - kTrailerSize);
}

bool IsPeImage(const unsigned char* head, std::size_t headSize)
{
    std::uint64_t peOffset = 0;
    return FindPeSignature(head, headSize, &peOffset);
}

FileRegion FindCertificateTable(const unsigned char* head, std::size_t headSize)
{
    const FileRegion none{false, 0, 0};
    std::uint64_t peOffset = 0;
    if (!FindPeSignature(head, headSize, &peOffset)) return none;

    const std::uint64_t coff = peOffset + kPeSignatureSize;
    const std::uint64_t optionalSize = ReadU16(head + coff + kSizeOfOptionalHeaderField);
    const std::uint64_t optional = coff + kCoffHeaderSize;
    if (!FitsIn(optional, 2, headSize)) return none;

    std::size_t rvaCountField = 0;
    std::size_t directoriesField = 0;
    const std::uint16_t magic = ReadU16(head + optional);
    if (magic == kPe32Magic) {
        rvaCountField = kPe32RvaCountField;
        directoriesField = kPe32DirectoriesField;
    } else if (magic == kPe32PlusMagic) {
        rvaCountField = kPe32PlusRvaCountField;
        directoriesField = kPe32PlusDirectoriesField;
    } else {
        return none;
    }

    const std::uint64_t entryField = directoriesField + kCertificateDirectory * kDirectoryEntrySize;
    if (entryField + kDirectoryEntrySize > optionalSize) return none;
    if (!FitsIn(optional, entryField + kDirectoryEntrySize, headSize)) return none;
    if (ReadU32(head + optional + rvaCountField) <= kCertificateDirectory) return none;

    // The certificate table's "virtual address" is a plain file offset.
    const std::uint64_t offset = ReadU32(head + optional + entryField);
    const std::uint64_t size = ReadU32(head + optional + entryField + 4);
    if (offset == 0 || size == 0) return none;
    return FileRegion{true, offset, size};
}

bool EndsAtEndOfFile(FileRegion region, std::int64_t fileSize)
{
    return region.found && fileSize >= 0 && region.offset + region.size == static_cast<std::uint64_t>(fileSize);
}

PackageLocation LocateSignedPackage(const unsigned char* window, std::size_t windowSize,
                                    std::uint64_t tableOffset)
{
    // "ORVIXZIP" has no repeated letter, so at most one of the positions can hold the magic.
    for (std::size_t padding = 0; padding < kCertificateAlignment; ++padding) {
        const std::size_t span = kTrailerSize + padding;
        if (span > windowSize || span > tableOffset) break;
        const unsigned char* trailer = window + windowSize - span;
        if (!AreAllZero(trailer + kTrailerSize, padding)) continue;
        const PackageLocation location = DecodeTrailerAt(trailer, tableOffset - span);
        if (location.found) return location;
    }
    return PackageLocation{false, 0, 0};
}

std::uint32_t NextChunkSize(std::uint64_t remaining)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, kCopyChunkSize));
}

void EncodeTrailer(std::uint64_t packageLength, unsigned char* out)
{
    std::copy(kTrailerMagic, kTrailerMagic + sizeof(kTrailerMagic), out);
    for (std::size_t i = 0; i < 8; ++i) {
        out[sizeof(kTrailerMagic) + i] = static_cast<unsigned char>(packageLength >> (8 * i));
    }
}

std::uint64_t ComputePackagePadding(std::uint64_t launcherSize, std::uint64_t packageLength)
{
    const std::uint64_t unpadded = (launcherSize % kCertificateAlignment) +
                                   (packageLength % kCertificateAlignment) + kTrailerSize;
    return (kCertificateAlignment - unpadded % kCertificateAlignment) % kCertificateAlignment;
}
