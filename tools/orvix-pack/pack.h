// orvix-pack's two jobs: checking that a file is a suite package the launcher can install, and
// writing a launcher that carries such a package behind its package trailer.
#pragma once

#include <string>
#include <vector>

// The entry every suite package must hold as a regular file: the install folder's suite executable.
inline constexpr char kSuiteEntryPath[] = "Orvix All In One/Orvix.exe";

// Reads a whole file. On failure returns false with a one-line reason in problem.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* problem);

// True when bytes are a readable ZIP archive that holds kSuiteEntryPath as a regular file. Every
// entry's data is read, so a damaged archive is refused too. On failure problem holds a one-line reason.
bool CheckPackageBytes(const std::vector<unsigned char>& bytes, std::string* problem);

// True when launcher is an unsigned Windows program without a package of its own. On failure
// problem holds a one-line reason.
bool CheckLauncherBytes(const std::vector<unsigned char>& launcher, std::string* problem);

// Writes outputPath as the launcher bytes, the zero padding that makes the whole file a multiple of
// 8 bytes long, the package bytes and the package trailer. The file is written under a temporary
// name beside outputPath and renamed at the end, so a failure leaves no partial output behind (an
// existing outputPath then stays as it was). The output takes the launcher file's permissions.
bool WritePackedLauncher(const std::string& launcherPath, const std::vector<unsigned char>& launcher,
                         const std::vector<unsigned char>& package, const std::string& outputPath,
                         std::string* problem);
