// Package checks with libarchive, and the writing of a launcher that carries a package. The trailer
// bytes and the padding come from the launcher's own trailer code, so writer and reader agree.
#include "pack.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "package/trailer.h"

namespace {

struct ArchiveFree {
    void operator()(archive* reader) const { archive_read_free(reader); }
};
using UniqueArchive = std::unique_ptr<archive, ArchiveFree>;

std::string ArchiveError(archive* reader)
{
    const char* text = archive_error_string(reader);
    return text != nullptr ? text : "unknown error";
}

bool IsZipFormat(archive* reader)
{
    return (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
}

// Reads the data of the current entry to its end, which checks its CRC.
bool ReadEntryData(archive* reader)
{
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    int result = ARCHIVE_OK;
    while ((result = archive_read_data_block(reader, &block, &size, &offset)) == ARCHIVE_OK) {
    }
    return result == ARCHIVE_EOF;
}

bool IsSuiteEntry(archive_entry* entry)
{
    const char* path = archive_entry_pathname(entry);
    return path != nullptr && std::strcmp(path, kSuiteEntryPath) == 0 && archive_entry_filetype(entry) == AE_IFREG;
}

bool WriteAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// launcher, zero padding, package, trailer.
bool WriteLayout(int fd, const std::vector<unsigned char>& launcher, const std::vector<unsigned char>& package)
{
    const std::vector<unsigned char> padding(ComputePackagePadding(launcher.size(), package.size()), 0);
    unsigned char trailer[kTrailerSize];
    EncodeTrailer(package.size(), trailer);
    return WriteAll(fd, launcher.data(), launcher.size()) && WriteAll(fd, padding.data(), padding.size()) &&
           WriteAll(fd, package.data(), package.size()) && WriteAll(fd, trailer, kTrailerSize);
}

// Fills bytes, sized to the file, from fd; false when the file ends early or a read fails.
bool ReadAll(int fd, std::vector<unsigned char>* bytes)
{
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = read(fd, bytes->data() + done, bytes->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) errno = EIO;  // the file became shorter while it was read
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* problem)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *problem = SystemError("cannot open");
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (!ok) *problem = SystemError("cannot read");
    if (ok && !S_ISREG(info.st_mode)) {
        ok = false;
        *problem = "not a regular file";
    }
    if (ok) {
        bytes->resize(static_cast<std::size_t>(info.st_size));
        ok = ReadAll(fd, bytes);
        if (!ok) *problem = SystemError("cannot read");
    }
    close(fd);
    return ok;
}

bool CheckPackageBytes(const std::vector<unsigned char>& bytes, std::string* problem)
{
    UniqueArchive reader(archive_read_new());
    archive_read_support_format_all(reader.get());
    if (archive_read_open_memory(reader.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) {
        *problem = "not a ZIP archive";
        return false;
    }

    bool foundSuite = false;
    archive_entry* entry = nullptr;
    int result = ARCHIVE_OK;
    while ((result = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        if (!IsZipFormat(reader.get())) break;
        foundSuite = foundSuite || IsSuiteEntry(entry);
        if (!ReadEntryData(reader.get())) {
            const char* path = archive_entry_pathname(entry);
            *problem = "damaged ZIP archive: entry \"" + std::string(path != nullptr ? path : "") +
                       "\": " + ArchiveError(reader.get());
            return false;
        }
    }
    if (!IsZipFormat(reader.get())) {
        const char* format = archive_format_name(reader.get());
        *problem = std::string("not a ZIP archive (") + (format != nullptr ? format : "unknown format") + ")";
        return false;
    }
    if (result != ARCHIVE_EOF) {
        *problem = "damaged ZIP archive: " + ArchiveError(reader.get());
        return false;
    }
    if (!foundSuite) {
        *problem = std::string("the archive holds no regular file \"") + kSuiteEntryPath + "\"";
        return false;
    }
    return true;
}

bool CheckLauncherBytes(const std::vector<unsigned char>& launcher, std::string* problem)
{
    const std::size_t headSize = std::min(launcher.size(), kPeHeadSize);
    if (!IsPeImage(launcher.data(), headSize)) {
        *problem = "not a Windows program (no PE headers)";
        return false;
    }
    if (FindCertificateTable(launcher.data(), headSize).found) {
        *problem = "the launcher is signed; pack the unsigned launcher, then sign the output";
        return false;
    }
    if (launcher.size() > kTrailerSize &&
        LocatePackage(launcher.data() + launcher.size() - kTrailerSize, launcher.size()).found) {
        *problem = "the launcher already carries a package";
        return false;
    }
    return true;
}

bool WritePackedLauncher(const std::string& launcherPath, const std::vector<unsigned char>& launcher,
                         const std::vector<unsigned char>& package, const std::string& outputPath,
                         std::string* problem)
{
    struct stat launcherStat {};
    if (stat(launcherPath.c_str(), &launcherStat) != 0) {
        *problem = SystemError(launcherPath);
        return false;
    }

    std::string tempPath = outputPath + ".XXXXXX";
    const int fd = mkstemp(tempPath.data());
    if (fd < 0) {
        *problem = SystemError("cannot create a file beside " + outputPath);
        return false;
    }
    bool ok = fchmod(fd, launcherStat.st_mode & 07777) == 0 && WriteLayout(fd, launcher, package);
    if (!ok) *problem = SystemError("cannot write " + tempPath);
    if (close(fd) != 0 && ok) {
        ok = false;
        *problem = SystemError("cannot write " + tempPath);
    }
    if (ok && rename(tempPath.c_str(), outputPath.c_str()) != 0) {
        ok = false;
        *problem = SystemError("cannot rename " + tempPath + " to " + outputPath);
    }
    if (!ok) unlink(tempPath.c_str());
    return ok;
}
