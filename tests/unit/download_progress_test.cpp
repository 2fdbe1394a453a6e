// The download's progress texts and the decision whether a transfer is complete.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/download_progress.h"

namespace {

const std::wstring kPrefix = L"Downloading Orvix All In One\u2026 ";

struct RefreshCase {
    const char* name;
    std::uint64_t received;
    std::uint32_t contentLength;
    std::int64_t lastShown;
    std::int64_t newLastShown;
    bool changed;
    std::wstring text;
};

TEST(DownloadProgress, RefreshTable)
{
    const RefreshCase cases[] = {
        {"first chunk below 1%", 1000, 1000000, kNothingShown, 0, true, kPrefix + L"0%"},
        {"0% again is no repeat", 2000, 1000000, 0, 0, false, L""},
        {"rounds down", 574999, 1000000, 0, 57, true, kPrefix + L"57%"},
        {"same whole number", 575999, 1000000, 57, 57, false, L""},
        {"whole body", 1000000, 1000000, 99, 100, true, kPrefix + L"100%"},
        {"more than announced", 1500000, 1000000, 100, 150, true, kPrefix + L"150%"},
        {"40 MB at 32 bits", 41943040, 41943040, 99, 100, true, kPrefix + L"100%"},
        {"length near 4 GiB", 4294967295ull, 4294967295u, 99, 100, true, kPrefix + L"100%"},
        {"no length: first chunk", 262144, 0, kNothingShown, 0, true, kPrefix + L"0 MB"},
        {"no length: same MB", 1048575, 0, 0, 0, false, L""},
        {"no length: next MB", 1048576, 0, 0, 1, true, kPrefix + L"1 MB"},
        {"no length: large", 5ull << 30, 0, 5119, 5120, true, kPrefix + L"5120 MB"},
    };
    for (const RefreshCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgressRefresh refresh = RefreshDownloadProgress(c.received, c.contentLength, c.lastShown);
        EXPECT_EQ(refresh.lastShown, c.newLastShown);
        EXPECT_EQ(refresh.changed, c.changed);
        EXPECT_EQ(refresh.text, c.text);
    }
}

// A whole download in 256 KiB chunks shows every percentage from 0 to 100 once, rising.
TEST(DownloadProgress, FortyMegabytesShowEachPercentageOnce)
{
    const std::uint32_t length = 40u * 1024 * 1024;
    std::vector<std::int64_t> shown;
    std::int64_t last = kNothingShown;
    for (std::uint64_t received = 0; received < length;) {
        received += std::min<std::uint64_t>(262144, length - received);
        const ProgressRefresh refresh = RefreshDownloadProgress(received, length, last);
        last = refresh.lastShown;
        if (refresh.changed) shown.push_back(refresh.lastShown);
    }
    ASSERT_EQ(shown.size(), 101u);
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], static_cast<std::int64_t>(i));
}

TEST(DownloadProgress, CompletenessTable)
{
    struct Case {
        const char* name;
        std::uint64_t received;
        std::uint32_t contentLength;
        bool readFailed;
        bool complete;
    };
    const Case cases[] = {
        {"whole body", 100, 100, false, true},
        {"empty body", 0, 0, false, false},
        {"empty body with length", 0, 100, false, false},
        {"cut short, clean end", 99, 100, false, false},
        {"cut short, read error", 99, 100, true, false},
        {"more than announced", 101, 100, false, true},
        {"no length, clean end", 5, 0, false, true},
        {"no length, read error", 5, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsDownloadComplete(c.received, c.contentLength, c.readFailed), c.complete);
    }
}

}  // namespace
