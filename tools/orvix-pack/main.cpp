// orvix-pack: makes an offline launcher, one that carries the suite package, or only checks a package.
//
//   orvix-pack LAUNCHER.exe PACKAGE.zip OUTPUT.exe
//   orvix-pack --check PACKAGE.zip
//
// Exit code 0 on success, 1 when an input is refused or cannot be read or the output cannot be
// written (one line on stderr says why), 2 on wrong usage.
#include <cstdio>
#include <string>
#include <vector>

#include "pack.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int Refuse(const std::string& path, const std::string& problem)
{
    std::fprintf(stderr, "orvix-pack: %s: %s\n", path.c_str(), problem.c_str());
    return kExitRefused;
}

int PrintUsage()
{
    std::fprintf(stderr,
                 "usage: orvix-pack LAUNCHER.exe PACKAGE.zip OUTPUT.exe\n"
                 "       orvix-pack --check PACKAGE.zip\n");
    return kExitUsage;
}

int CheckPackage(const std::string& packagePath)
{
    std::vector<unsigned char> package;
    std::string problem;
    if (!ReadWholeFile(packagePath, &package, &problem) || !CheckPackageBytes(package, &problem)) {
        return Refuse(packagePath, problem);
    }
    std::printf("orvix-pack: %s: a valid suite package\n", packagePath.c_str());
    return 0;
}

int PackLauncher(const std::string& launcherPath, const std::string& packagePath, const std::string& outputPath)
{
    std::vector<unsigned char> launcher;
    std::vector<unsigned char> package;
    std::string problem;
    if (!ReadWholeFile(launcherPath, &launcher, &problem) || !CheckLauncherBytes(launcher, &problem)) {
        return Refuse(launcherPath, problem);
    }
    if (!ReadWholeFile(packagePath, &package, &problem) || !CheckPackageBytes(package, &problem)) {
        return Refuse(packagePath, problem);
    }
    if (!WritePackedLauncher(launcherPath, launcher, package, outputPath, &problem)) {
        return Refuse(outputPath, problem);
    }
    std::printf("orvix-pack: wrote %s (launcher %zu bytes, package %zu bytes)\n", outputPath.c_str(),
                launcher.size(), package.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "--check") return CheckPackage(args[1]);
    if (args.size() == 3 && args[0].rfind("--", 0) != 0) return PackLauncher(args[0], args[1], args[2]);
    return PrintUsage();
}
