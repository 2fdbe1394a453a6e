// The package trailer decision over small byte fixtures: unsigned launcher files, signed ones with
// a certificate table at the end, the copy loop's chunks and the writer's trailer and padding.
#include "package/trailer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kMaxU64 = UINT64_MAX;

Bytes Filled(std::size_t count, unsigned char value)
{
    return Bytes(count, value);
}

void PutU16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void AppendBytes(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

// A trailer with the given 8 magic characters and package length, written field by field.
Bytes Trailer(const std::string& magic, std::uint64_t length)
{
    Bytes bytes(magic.begin(), magic.end());
    for (std::size_t i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(length >> (8 * i)));
    return bytes;
}

// body, then the trailer.
Bytes WithTrailer(Bytes body, const std::string& magic, std::uint64_t length)
{
    AppendBytes(body, Trailer(magic, length));
    return body;
}

// The launcher's decision for a file held in memory, in the launcher's order: the last 16 bytes;
// when they do not hold the magic, the trailer before the certificate table of a signed file.
PackageLocation LocateInFile(const Bytes& file)
{
    const std::int64_t size = static_cast<std::int64_t>(file.size());
    if (file.size() <= kTrailerSize) return PackageLocation{false, 0, 0};
    const unsigned char* trailer = file.data() + file.size() - kTrailerSize;
    if (HasTrailerMagic(trailer)) return LocatePackage(trailer, size);

    const FileRegion table = FindCertificateTable(file.data(), std::min(file.size(), kPeHeadSize));
    if (!EndsAtEndOfFile(table, size)) return PackageLocation{false, 0, 0};
    const std::size_t windowSize = std::min<std::size_t>(table.offset, kSignedTrailerWindow);
    return LocateSignedPackage(file.data() + table.offset - windowSize, windowSize, table.offset);
}

struct Expected {
    bool found;
    std::uint64_t offset;
    std::uint64_t length;
};

constexpr Expected kNone{false, 0, 0};

void ExpectLocation(const PackageLocation& actual, const Expected& expected, const std::string& name, int line)
{
    SCOPED_TRACE(testing::Message() << "case '" << name << "' (line " << line << ")");
    EXPECT_EQ(actual.found, expected.found);
    if (expected.found && actual.found) {
        EXPECT_EQ(actual.offset, expected.offset);
        EXPECT_EQ(actual.length, expected.length);
    }
}

// --- Unsigned launcher files --------------------------------------------------------------------

struct FileCase {
    std::string name;
    Bytes file;
    Expected expected;
    int line;
};

TEST(TrailerTest, UnsignedFiles)
{
    const std::vector<FileCase> cases = {
        {"no trailer", Filled(100, 'x'), kNone, __LINE__},
        {"trailer only, length 0", WithTrailer({}, "ORVIXZIP", 0), kNone, __LINE__},
        {"ordinary package", WithTrailer(Filled(20, 'x'), "ORVIXZIP", 8), {true, 12, 8}, __LINE__},
        {"length is little-endian", WithTrailer(Filled(300, 'x'), "ORVIXZIP", 0x0102), {true, 42, 0x0102},
         __LINE__},
        {"magic in lower case", WithTrailer(Filled(20, 'x'), "orvixzip", 8), kNone, __LINE__},
        {"magic in mixed case", WithTrailer(Filled(20, 'x'), "OrvixZip", 8), kNone, __LINE__},
        {"length 0", WithTrailer(Filled(20, 'x'), "ORVIXZIP", 0), kNone, __LINE__},
        {"package from byte 0 (size - 16)", WithTrailer(Filled(5, 'x'), "ORVIXZIP", 5), {true, 0, 5}, __LINE__},
        {"one byte package from byte 0", WithTrailer(Filled(1, 'x'), "ORVIXZIP", 1), {true, 0, 1}, __LINE__},
        {"length size - 15", WithTrailer(Filled(5, 'x'), "ORVIXZIP", 6), kNone, __LINE__},
        {"largest length", WithTrailer(Filled(100, 'x'), "ORVIXZIP", kMaxU64), kNone, __LINE__},
        // 16 added to this length wraps around to 10, well under the file size.
        {"length that wraps when 16 is added", WithTrailer(Filled(100, 'x'), "ORVIXZIP", kMaxU64 - 5),
         kNone, __LINE__},
        {"length with only the top bit set", WithTrailer(Filled(100, 'x'), "ORVIXZIP", 1ULL << 63), kNone,
         __LINE__},
        // A trailer that names too long a package is final: nothing else is looked for.
        {"earlier valid trailer does not count", WithTrailer(WithTrailer(Filled(8, 'x'), "ORVIXZIP", 8),
                                                            "ORVIXZIP", 1000),
         kNone, __LINE__},
    };
    for (const FileCase& c : cases) ExpectLocation(LocateInFile(c.file), c.expected, c.name, c.line);
}

TEST(TrailerTest, EveryChangedMagicByteIsRejected)
{
    for (std::size_t i = 0; i < 8; ++i) {
        Bytes file = WithTrailer(Filled(20, 'x'), "ORVIXZIP", 8);
        file[20 + i] ^= 0x01;
        ExpectLocation(LocateInFile(file), kNone, "magic byte " + std::to_string(i) + " changed", __LINE__);
    }
}

TEST(TrailerTest, FilesOf16BytesOrFewerHaveNoPackage)
{
    // A trailer that would name a one-byte package, handed over with sizes too small to hold it.
    const Bytes trailer = Trailer("ORVIXZIP", 1);
    for (std::int64_t size : {16, 15, 10, 1, 0, -1}) {
        ExpectLocation(LocatePackage(trailer.data(), size), kNone, "size " + std::to_string(size), __LINE__);
    }
    ExpectLocation(LocatePackage(trailer.data(), 17), {true, 0, 1}, "size 17", __LINE__);
}

// --- Signed launcher files -------------------------------------------------------------------

constexpr std::size_t kHeadersSize = 512;
constexpr std::size_t kPeOffset = 0x80;

struct PeFixture {
    std::uint16_t magic = 0x20B;          // PE32+
    std::uint16_t optionalSize = 240;     // PE32+ with 16 data directories
    std::uint32_t rvaCount = 16;
    std::uint32_t peOffset = kPeOffset;
    bool badSignature = false;
};

// The first 512 bytes of an image whose certificate table entry reads (tableOffset, tableSize).
Bytes Headers(const PeFixture& pe, std::uint32_t tableOffset, std::uint32_t tableSize)
{
    Bytes bytes = Filled(kHeadersSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutU32(bytes, 0x3C, pe.peOffset);
    if (pe.peOffset + 24 + 240 > kHeadersSize) return bytes;
    bytes[pe.peOffset] = 'P';
    bytes[pe.peOffset + 1] = pe.badSignature ? 'X' : 'E';
    PutU16(bytes, pe.peOffset + 4, 0x8664);
    PutU16(bytes, pe.peOffset + 20, pe.optionalSize);
    const std::size_t optional = pe.peOffset + 24;
    PutU16(bytes, optional, pe.magic);
    const bool plus = pe.magic == 0x20B;
    PutU32(bytes, optional + (plus ? 108 : 92), pe.rvaCount);
    const std::size_t entry = optional + (plus ? 112 : 96) + 4 * 8;
    PutU32(bytes, entry, tableOffset);
    PutU32(bytes, entry + 4, tableSize);
    return bytes;
}

struct SignedLayout {
    PeFixture pe;
    std::size_t packageSize = 40;
    std::uint64_t trailerLength = 40;  // the length the trailer states
    Bytes padding;                     // between the trailer and the table
    std::size_t tableSize = 64;
    std::size_t bytesAfterTable = 0;   // table entry still says it ends before these
    std::uint32_t sizeBeyondEnd = 0;   // added to the table size the entry states
    bool lastBytesHoldMagic = false;   // the table's last 16 bytes are a trailer naming nothing
};

// headers, package, trailer, padding, certificate table, with the table entry pointing at the table.
Bytes SignedFile(const SignedLayout& layout)
{
    const std::size_t tableOffset = kHeadersSize + layout.packageSize + kTrailerSize + layout.padding.size();
    Bytes file = Headers(layout.pe, static_cast<std::uint32_t>(tableOffset),
                         static_cast<std::uint32_t>(layout.tableSize) + layout.sizeBeyondEnd);
    AppendBytes(file, Filled(layout.packageSize, 'p'));
    AppendBytes(file, Trailer("ORVIXZIP", layout.trailerLength));
    AppendBytes(file, layout.padding);
    Bytes table = Filled(layout.tableSize, 'c');
    if (layout.lastBytesHoldMagic) {
        const Bytes fake = Trailer("ORVIXZIP", 0);
        std::copy(fake.begin(), fake.end(), table.end() - kTrailerSize);
    }
    AppendBytes(file, table);
    AppendBytes(file, Filled(layout.bytesAfterTable, 'z'));
    return file;
}

struct SignedCase {
    std::string name;
    SignedLayout layout;
    Expected expected;
    int line;
};

SignedLayout Padded(std::size_t zeros)
{
    SignedLayout layout;
    layout.padding = Filled(zeros, 0);
    return layout;
}

TEST(TrailerTest, SignedFiles)
{
    const Expected package{true, kHeadersSize, 40};
    std::vector<SignedCase> cases;
    for (std::size_t zeros = 0; zeros <= 7; ++zeros) {
        cases.push_back({"PE32+, " + std::to_string(zeros) + " padding bytes", Padded(zeros), package, __LINE__});
    }
    SignedLayout pe32 = Padded(4);
    pe32.pe.magic = 0x10B;
    pe32.pe.optionalSize = 224;
    cases.push_back({"PE32, 4 padding bytes", pe32, package, __LINE__});

    SignedLayout nonzero = Padded(3);
    nonzero.padding[1] = 1;
    cases.push_back({"nonzero padding", nonzero, kNone, __LINE__});
    cases.push_back({"8 padding bytes", Padded(8), kNone, __LINE__});

    SignedLayout notAtEnd = Padded(0);
    notAtEnd.bytesAfterTable = 1;
    cases.push_back({"table not ending at the end of the file", notAtEnd, kNone, __LINE__});
    SignedLayout pastEnd = Padded(0);
    pastEnd.sizeBeyondEnd = 1;
    cases.push_back({"table said to end past the end of the file", pastEnd, kNone, __LINE__});

    SignedLayout wholeFile = Padded(2);
    wholeFile.trailerLength = kHeadersSize + 40;
    cases.push_back({"package from byte 0", wholeFile, {true, 0, kHeadersSize + 40}, __LINE__});
    SignedLayout tooLong = Padded(2);
    tooLong.trailerLength = kHeadersSize + 41;
    cases.push_back({"package longer than what stands before the trailer", tooLong, kNone, __LINE__});
    SignedLayout wrapping = Padded(2);
    wrapping.trailerLength = kMaxU64 - 5;
    cases.push_back({"length that wraps when 16 is added", wrapping, kNone, __LINE__});
    SignedLayout empty = Padded(0);
    empty.trailerLength = 0;
    cases.push_back({"length 0", empty, kNone, __LINE__});

    SignedLayout magicAtEnd = Padded(0);
    magicAtEnd.lastBytesHoldMagic = true;
    cases.push_back({"last 16 bytes hold the magic: no second look", magicAtEnd, kNone, __LINE__});

    SignedLayout farPe = Padded(0);
    farPe.pe.peOffset = 4000;  // the DOS header points past the end of this small file
    cases.push_back({"PE header offset past the bytes read", farPe, kNone, __LINE__});
    SignedLayout badSignature = Padded(0);
    badSignature.pe.badSignature = true;
    cases.push_back({"no PE signature", badSignature, kNone, __LINE__});
    SignedLayout badMagic = Padded(0);
    badMagic.pe.magic = 0x107;
    cases.push_back({"unknown optional header magic", badMagic, kNone, __LINE__});
    SignedLayout fewDirectories = Padded(0);
    fewDirectories.pe.rvaCount = 4;
    cases.push_back({"only 4 data directories", fewDirectories, kNone, __LINE__});
    SignedLayout shortOptional = Padded(0);
    shortOptional.pe.optionalSize = 112 + 4 * 8 + 7;
    cases.push_back({"optional header too short for directory 4", shortOptional, kNone, __LINE__});

    for (const SignedCase& c : cases) ExpectLocation(LocateInFile(SignedFile(c.layout)), c.expected, c.name, c.line);
}

TEST(TrailerTest, SignedFileWithoutMzIsIgnored)
{
    Bytes file = SignedFile(Padded(0));
    file[0] = 'N';
    ExpectLocation(LocateInFile(file), kNone, "no MZ", __LINE__);
}

TEST(TrailerTest, CertificateTableEntryIsReadFromTheHeaders)
{
    const Bytes head = Headers(PeFixture{}, 0x12345678, 0x9ABC);
    const FileRegion table = FindCertificateTable(head.data(), head.size());
    EXPECT_TRUE(table.found);
    EXPECT_EQ(table.offset, 0x12345678u);
    EXPECT_EQ(table.size, 0x9ABCu);

    EXPECT_FALSE(FindCertificateTable(head.data(), 0x80 + 24 + 112 + 39).found) << "entry cut off by head size";
    EXPECT_FALSE(FindCertificateTable(Headers(PeFixture{}, 0, 0x100).data(), kHeadersSize).found) << "offset 0";
    EXPECT_FALSE(FindCertificateTable(Headers(PeFixture{}, 0x400, 0).data(), kHeadersSize).found) << "size 0";
}

TEST(TrailerTest, SignedTrailerNeedsRoomBeforeTheTable)
{
    // A table at offset 20 leaves room for the trailer with up to 4 padding bytes only.
    Bytes window = Trailer("ORVIXZIP", 4);
    window.insert(window.begin(), 4, 'p');
    ExpectLocation(LocateSignedPackage(window.data(), window.size(), 20), {true, 0, 4}, "offset 20", __LINE__);
    ExpectLocation(LocateSignedPackage(window.data(), 15, 15), kNone, "table at offset 15", __LINE__);
    ExpectLocation(LocateSignedPackage(window.data(), 0, 0), kNone, "table at offset 0", __LINE__);
}

TEST(TrailerTest, IsPeImage)
{
    const Bytes good = Headers(PeFixture{}, 0, 0);
    EXPECT_TRUE(IsPeImage(good.data(), good.size()));
    EXPECT_FALSE(IsPeImage(good.data(), 0x3F)) << "shorter than a DOS header";
    EXPECT_FALSE(IsPeImage(good.data(), 0x80 + 23)) << "PE headers cut off";
    PeFixture badSignature;
    badSignature.badSignature = true;
    EXPECT_FALSE(IsPeImage(Headers(badSignature, 0, 0).data(), kHeadersSize)) << "no PE signature";
    const Bytes text = Filled(kHeadersSize, 'M');
    EXPECT_FALSE(IsPeImage(text.data(), text.size())) << "text file";
}

// --- The copy loop's chunks ---------------------------------------------------------------------

std::vector<std::uint32_t> PlanChunks(std::uint64_t length)
{
    std::vector<std::uint32_t> chunks;
    for (std::uint64_t remaining = length; remaining > 0; remaining -= chunks.back()) {
        chunks.push_back(NextChunkSize(remaining));
    }
    return chunks;
}

TEST(TrailerTest, CopyChunks)
{
    struct Case {
        std::string name;
        std::uint64_t length;
        std::vector<std::uint32_t> chunks;
        int line;
    };
    const std::vector<Case> cases = {
        {"1.5 MiB", 1572864, {1048576, 524288}, __LINE__},
        {"1 MiB", 1048576, {1048576}, __LINE__},
        {"1 byte", 1, {1}, __LINE__},
        {"2 MiB and 1 byte", 2097153, {1048576, 1048576, 1}, __LINE__},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanChunks(c.length), c.chunks) << "case '" << c.name << "' (line " << c.line << ")";
    }
    EXPECT_EQ(NextChunkSize((1ULL << 32) + 5), kCopyChunkSize) << "more than 4 GiB left";
    EXPECT_EQ(NextChunkSize(kMaxU64), kCopyChunkSize) << "largest count";
}

// --- The writer's side --------------------------------------------------------------------------

TEST(TrailerTest, EncodeTrailerWritesMagicAndLittleEndianLength)
{
    unsigned char out[kTrailerSize] = {};
    EncodeTrailer(0x0102030405060708ULL, out);
    const Bytes expected = {'O', 'R', 'V', 'I', 'X', 'Z', 'I', 'P', 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(Bytes(out, out + kTrailerSize), expected);
}

TEST(TrailerTest, PaddingMakesTheFileAMultipleOf8)
{
    for (std::uint64_t launcher = 1000; launcher < 1008; ++launcher) {
        for (std::uint64_t package = 1; package <= 8; ++package) {
            const std::uint64_t padding = ComputePackagePadding(launcher, package);
            EXPECT_LT(padding, 8u) << "launcher " << launcher << ", package " << package;
            EXPECT_EQ((launcher + padding + package + kTrailerSize) % 8, 0u)
                << "launcher " << launcher << ", package " << package;
        }
    }
    EXPECT_EQ(ComputePackagePadding(kMaxU64, kMaxU64), 2u) << "sizes near 2^64";
}

TEST(TrailerTest, WrittenLayoutIsFoundByTheReader)
{
    Bytes file = Filled(1001, 'L');
    const Bytes package = Filled(13, 'p');
    AppendBytes(file, Filled(ComputePackagePadding(file.size(), package.size()), 0));
    const std::uint64_t packageOffset = file.size();
    AppendBytes(file, package);
    unsigned char trailer[kTrailerSize];
    EncodeTrailer(package.size(), trailer);
    file.insert(file.end(), trailer, trailer + kTrailerSize);

    EXPECT_EQ(file.size() % 8, 0u);
    ExpectLocation(LocateInFile(file), {true, packageOffset, package.size()}, "packed file", __LINE__);
}

}  // namespace
