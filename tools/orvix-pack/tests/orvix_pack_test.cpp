// Runs the built orvix-pack on small archives made here with libarchive: a good package is packed
// into a launcher the launcher's trailer reader understands; wrong or missing inputs are refused
// with one line on stderr, a non-zero exit code and no output file.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "package/trailer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr char kSuiteEntry[] = "Orvix All In One/Orvix.exe";

struct Entry {
    std::string path;
    bool directory;
    std::string contents;
};

const std::vector<Entry> kGoodEntries = {
    {"Orvix All In One/", true, ""},
    {"Orvix All In One/Orvix.exe", false, "MZ stand-in suite"},
    {"Orvix All In One/icons/email.ico", false, "icon"},
};

Bytes ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// An archive of the given format (ARCHIVE_FORMAT_ZIP or a tar format) holding entries.
void WriteArchive(const fs::path& path, int format, const std::vector<Entry>& entries)
{
    archive* writer = archive_write_new();
    ASSERT_EQ(archive_write_set_format(writer, format), ARCHIVE_OK);
    ASSERT_EQ(archive_write_open_filename(writer, path.c_str()), ARCHIVE_OK);
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.c_str());
        archive_entry_set_filetype(entry, e.directory ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, e.directory ? 0755 : 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.contents.size()));
        ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK);
        if (!e.contents.empty()) {
            ASSERT_EQ(archive_write_data(writer, e.contents.data(), e.contents.size()),
                      static_cast<la_ssize_t>(e.contents.size()));
        }
        archive_entry_free(entry);
    }
    ASSERT_EQ(archive_write_close(writer), ARCHIVE_OK);
    archive_write_free(writer);
}

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A stand-in launcher: PE32+ headers whose certificate table entry is (tableOffset, tableSize),
// then filler up to an odd size, so that the output needs padding.
Bytes LauncherBytes(std::uint32_t tableOffset = 0, std::uint32_t tableSize = 0)
{
    Bytes bytes(1001, 0xCC);
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutU32(bytes, 0x3C, 0x80);
    bytes[0x80] = 'P';
    bytes[0x81] = 'E';
    bytes[0x80 + 4] = 0x64;  // machine 0x8664
    bytes[0x80 + 5] = 0x86;
    bytes[0x80 + 20] = 240;  // size of the optional header
    const std::size_t optional = 0x80 + 24;
    bytes[optional] = 0x0B;  // PE32+
    bytes[optional + 1] = 0x02;
    PutU32(bytes, optional + 108, 16);
    PutU32(bytes, optional + 112 + 32, tableOffset);
    PutU32(bytes, optional + 112 + 36, tableSize);
    return bytes;
}

struct PackRun {
    int exitCode;
    std::string out;
    std::string err;
};

class OrvixPackTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "orvix-pack-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        work_ = dir_ / "work";
        fs::create_directory(work_);
        WriteArchive(work_ / "good.zip", ARCHIVE_FORMAT_ZIP, kGoodEntries);
        WriteBytes(work_ / "launcher.exe", LauncherBytes());
        fs::permissions(work_ / "launcher.exe", fs::perms(0755));
    }

    void TearDown() override { fs::remove_all(dir_); }

    fs::path In(const std::string& name) const { return work_ / name; }

    // Runs orvix-pack with args; its output streams go to files outside the work folder.
    PackRun RunPack(const std::vector<std::string>& args) const
    {
        const std::string outPath = (dir_ / "stdout").string();
        const std::string errPath = (dir_ / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all = {ORVIX_PACK_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);

        PackRun run{-1, "", ""};
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, ORVIX_PACK_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return run;
        int status = 0;
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const Bytes out = ReadBytes(outPath);
        const Bytes err = ReadBytes(errPath);
        run.out.assign(out.begin(), out.end());
        run.err.assign(err.begin(), err.end());
        return run;
    }

    std::set<std::string> WorkFiles() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(work_)) names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
    fs::path work_;
};

std::uint64_t DecodeU64(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

TEST_F(OrvixPackTest, PacksAGoodPackage)
{
    const PackRun run = RunPack({In("launcher.exe"), In("good.zip"), In("out.exe")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const Bytes launcher = ReadBytes(In("launcher.exe"));
    const Bytes package = ReadBytes(In("good.zip"));
    const Bytes output = ReadBytes(In("out.exe"));
    ASSERT_GT(output.size(), launcher.size() + package.size() + kTrailerSize);
    const std::size_t padding = output.size() - launcher.size() - package.size() - kTrailerSize;
    EXPECT_LT(padding, 8u);
    EXPECT_EQ(output.size() % 8, 0u);

    // launcher bytes, zero padding, package bytes, trailer.
    EXPECT_TRUE(std::equal(launcher.begin(), launcher.end(), output.begin()));
    EXPECT_TRUE(std::all_of(output.begin() + launcher.size(), output.begin() + launcher.size() + padding,
                            [](unsigned char b) { return b == 0; }));
    EXPECT_TRUE(std::equal(package.begin(), package.end(), output.begin() + launcher.size() + padding));
    const unsigned char* trailer = output.data() + output.size() - kTrailerSize;
    EXPECT_EQ(std::string(trailer, trailer + 8), "ORVIXZIP");
    EXPECT_EQ(DecodeU64(trailer + 8), package.size());

    const PackageLocation found = LocatePackage(trailer, static_cast<std::int64_t>(output.size()));
    EXPECT_TRUE(found.found);
    EXPECT_EQ(found.offset, launcher.size() + padding);
    EXPECT_EQ(found.length, package.size());

    EXPECT_EQ(fs::status(In("out.exe")).permissions(), fs::perms(0755)) << "the launcher's permissions";
    EXPECT_EQ(WorkFiles(), (std::set<std::string>{"launcher.exe", "good.zip", "out.exe"})) << "no temporary file left";
}

TEST_F(OrvixPackTest, ReplacesAnExistingOutput)
{
    WriteText(In("out.exe"), "an older build");
    ASSERT_EQ(RunPack({In("launcher.exe"), In("good.zip"), In("out.exe")}).exitCode, 0);
    const Bytes output = ReadBytes(In("out.exe"));
    EXPECT_EQ(output.size() % 8, 0u);
    EXPECT_EQ(output[0], 'M');
}

TEST_F(OrvixPackTest, ChecksAGoodPackage)
{
    const PackRun run = RunPack({"--check", In("good.zip")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(WorkFiles(), (std::set<std::string>{"launcher.exe", "good.zip"}));
}

struct RefusalCase {
    std::string name;
    std::string launcher;  // file name in the work folder; empty: check mode
    std::string package;
    std::string message;   // part of the stderr line
    int line;
};

// Inputs that must be refused, both when packing and, for packages, in check mode.
TEST_F(OrvixPackTest, RefusesWrongInputs)
{
    WriteArchive(In("other-exe.zip"), ARCHIVE_FORMAT_ZIP,
                 {{"Orvix All In One/", true, ""}, {"Orvix All In One/Other.exe", false, "x"}});
    WriteArchive(In("top-level.zip"), ARCHIVE_FORMAT_ZIP, {{"Orvix.exe", false, "x"}});
    WriteArchive(In("deeper.zip"), ARCHIVE_FORMAT_ZIP, {{"x/Orvix All In One/Orvix.exe", false, "x"}});
    WriteArchive(In("exe-is-folder.zip"), ARCHIVE_FORMAT_ZIP, {{"Orvix All In One/Orvix.exe/", true, ""}});
    WriteArchive(In("empty.zip"), ARCHIVE_FORMAT_ZIP, {});
    WriteArchive(In("suite.tar"), ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, kGoodEntries);
    WriteText(In("text.zip"), "this is not an archive\n");
    WriteText(In("zero.zip"), "");
    Bytes damaged = ReadBytes(In("good.zip"));
    damaged.resize(damaged.size() / 2);
    WriteBytes(In("damaged.zip"), damaged);
    WriteText(In("text.exe"), "not a program");
    WriteBytes(In("signed.exe"), LauncherBytes(1000, 1));
    ASSERT_EQ(RunPack({In("launcher.exe"), In("good.zip"), In("packed.exe")}).exitCode, 0);
    fs::create_directory(In("folder.zip"));

    const std::string noSuite = "no regular file \"" + std::string(kSuiteEntry) + "\"";
    const std::vector<RefusalCase> cases = {
        {"no suite executable", "launcher.exe", "other-exe.zip", noSuite, __LINE__},
        {"suite executable at the top", "launcher.exe", "top-level.zip", noSuite, __LINE__},
        {"suite executable one level deeper", "launcher.exe", "deeper.zip", noSuite, __LINE__},
        {"suite executable is a folder", "launcher.exe", "exe-is-folder.zip", noSuite, __LINE__},
        {"empty ZIP", "launcher.exe", "empty.zip", noSuite, __LINE__},
        {"tar archive", "launcher.exe", "suite.tar", "not a ZIP archive", __LINE__},
        {"text file", "launcher.exe", "text.zip", "not a ZIP archive", __LINE__},
        {"empty file", "launcher.exe", "zero.zip", "not a ZIP archive", __LINE__},
        {"cut-off ZIP", "launcher.exe", "damaged.zip", "ZIP archive", __LINE__},
        {"missing package", "launcher.exe", "missing.zip", "cannot open: No such file or directory", __LINE__},
        {"folder as package", "launcher.exe", "folder.zip", "not a regular file", __LINE__},
        {"missing launcher", "missing.exe", "good.zip", "cannot open: No such file or directory", __LINE__},
        {"launcher not a PE file", "text.exe", "good.zip", "not a Windows program", __LINE__},
        {"signed launcher", "signed.exe", "good.zip", "signed", __LINE__},
        {"launcher already carries a package", "packed.exe", "good.zip", "already carries a package", __LINE__},
        {"check: no suite executable", "", "other-exe.zip", noSuite, __LINE__},
        {"check: tar archive", "", "suite.tar", "not a ZIP archive", __LINE__},
        {"check: text file", "", "text.zip", "not a ZIP archive", __LINE__},
        {"check: cut-off ZIP", "", "damaged.zip", "ZIP archive", __LINE__},
        {"check: missing package", "", "missing.zip", "No such file or directory", __LINE__},
    };
    const std::set<std::string> before = WorkFiles();
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case '" << c.name << "' (line " << c.line << ")");
        const PackRun run = c.launcher.empty() ? RunPack({"--check", In(c.package)})
                                           : RunPack({In(c.launcher), In(c.package), In("out.exe")});
        EXPECT_EQ(run.exitCode, 1);
        const std::string refused = c.launcher.empty() || c.launcher == "launcher.exe" ? c.package : c.launcher;
        EXPECT_EQ(run.err.rfind("orvix-pack: " + In(refused).string() + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(WorkFiles(), before) << "no output and no temporary file";
    }
}

TEST_F(OrvixPackTest, FailedWriteLeavesNothingBehind)
{
    const PackRun run = RunPack({In("launcher.exe"), In("good.zip"), In("no-such-folder/out.exe")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no-such-folder/out.exe"), std::string::npos) << run.err;
    EXPECT_EQ(WorkFiles(), (std::set<std::string>{"launcher.exe", "good.zip"}));


    // An output path that names a folder: the rename fails and the temporary file is removed.
    fs::create_directory(In("out.exe"));
    WriteText(In("out.exe") / "keep", "kept");
    const PackRun onFolder = RunPack({In("launcher.exe"), In("good.zip"), In("out.exe")});
    EXPECT_EQ(onFolder.exitCode, 1);
    EXPECT_NE(onFolder.err.find("cannot rename"), std::string::npos) << onFolder.err;
    EXPECT_EQ(WorkFiles(), (std::set<std::string>{"launcher.exe", "good.zip", "out.exe"}));
    EXPECT_TRUE(fs::is_directory(In("out.exe")));
}

TEST_F(OrvixPackTest, WrongUsage)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {In("launcher.exe")}, {"--check"}, {In("launcher.exe"), In("good.zip")},
             {"--check", In("good.zip"), In("out.exe")}}) {
        const PackRun run = RunPack(args);
        EXPECT_EQ(run.exitCode, 2) << args.size() << " arguments";
        EXPECT_NE(run.err.find("usage: orvix-pack"), std::string::npos);
    }
    EXPECT_EQ(WorkFiles(), (std::set<std::string>{"launcher.exe", "good.zip"}));
}

}  // namespace
