// The package trailer: how a launcher file that carries the suite package announces it, decided from
// plain bytes and sizes. The trailer is the last 16 bytes of the file: the magic "ORVIXZIP", then the
// package length as an unsigned 64-bit little-endian integer; the package bytes stand right before it.
// A signed launcher has its certificate table after the trailer; the trailer then ends 0 to 7 zero
// bytes before that table. Also the writer's side (trailer bytes, alignment padding), so that the
// packing tool and the launcher agree by construction. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kTrailerSize = 16;
inline constexpr char kTrailerMagic[8] = {'O', 'R', 'V', 'I', 'X', 'Z', 'I', 'P'};

// The copy buffer: every read asks for this much or for the rest of the package.
inline constexpr std::uint32_t kCopyChunkSize = 1048576;

// The signing tool pads the file to a multiple of this before it appends the certificate table.
inline constexpr std::uint64_t kCertificateAlignment = 8;

// How many bytes before the certificate table can hold the trailer and its padding (16 + 7).
inline constexpr std::size_t kSignedTrailerWindow = kTrailerSize + kCertificateAlignment - 1;

// How many bytes from the start of the file are read to find the PE headers.
inline constexpr std::size_t kPeHeadSize = 4096;

// Where the package lies in the launcher file. Offset and length are meaningful only when found.
struct PackageLocation {
    bool found;
    std::uint64_t offset;
    std::uint64_t length;
};

// A region of the file; meaningful only when found.
struct FileRegion {
    bool found;
    std::uint64_t offset;
    std::uint64_t size;
};

// True when the first 8 of the given bytes are the magic, compared byte by byte.
bool HasTrailerMagic(const unsigned char* bytes);

// Reads the 16-byte trailer taken from the end of a file of fileSize bytes. Found only when the file
// is longer than 16 bytes, the magic matches and the package length is at least 1 and fits before
// the trailer (a package may start at byte 0).
PackageLocation LocatePackage(const unsigned char* trailer, std::int64_t fileSize);

// The certificate table (data directory 4) named by the PE headers in head, the first headSize
// bytes of the file (PE32 or PE32+). Not found when the headers are malformed, do not lie inside
// head, or the table is absent (offset or size 0).
FileRegion FindCertificateTable(const unsigned char* head, std::size_t headSize);

// True when head starts like a PE image: "MZ", and "PE\0\0" where the DOS header points, inside head.
bool IsPeImage(const unsigned char* head, std::size_t headSize);

// True when the region is found and ends exactly at the end of a file of fileSize bytes.
bool EndsAtEndOfFile(FileRegion region, std::int64_t fileSize);

// Looks for the trailer of a signed launcher in window, the windowSize bytes that end right before
// the certificate table at tableOffset (windowSize is at most kSignedTrailerWindow and at most
// tableOffset). Tries the trailer ending 0 to 7 bytes before the table and accepts it only when the
// magic matches, the bytes between it and the table are all zero and the package fits before it.
PackageLocation LocateSignedPackage(const unsigned char* window, std::size_t windowSize,
                                    std::uint64_t tableOffset);

// The size of the next read of the copy loop: the rest of the package or one buffer, the smaller.
std::uint32_t NextChunkSize(std::uint64_t remaining);

// Writes the 16 trailer bytes for a package of packageLength bytes into out.
void EncodeTrailer(std::uint64_t packageLength, unsigned char* out);

// The zero bytes (0 to 7) to put between a launcher of launcherSize bytes and a package of
// packageLength bytes so that the whole file, trailer included, is a multiple of 8 bytes long.
std::uint64_t ComputePackagePadding(std::uint64_t launcherSize, std::uint64_t packageLength);
