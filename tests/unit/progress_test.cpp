// Window arithmetic and the failure box text.
#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"
#include "core/product.h"
#include "progress/progress_text.h"

namespace {

TEST(WindowOrigin, CentresWithTruncatingDivision)
{
    struct Case {
        int width, height, x, y;
    };
    const Case cases[] = {
        {1920, 1080, 730, 470},
        {459, 141, 0, 0},  // -1 / 2 truncates toward zero: not a floor division
        {458, 140, -1, 0},
        {100, 100, -180, -20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const WindowOrigin origin = ComputeWindowOrigin(c.width, c.height);
        EXPECT_EQ(origin.x, c.x);
        EXPECT_EQ(origin.y, c.y);
    }
}

TEST(FailureText, MessageThenTwoLineFeedsThenHint)
{
    const std::wstring hint = std::wstring(L"You can download Orvix All In One from https://") +
                              kDownloadHost + L" instead.";
    EXPECT_EQ(ComposeFailureText(kDownloadFailedMessage),
              L"Could not download Orvix All In One. Check the internet connection and try again.\n\n" +
                  hint);
    EXPECT_EQ(ComposeFailureText(kUnpackFailedMessage),
              L"Could not unpack Orvix All In One.\n\n" + hint);
    // The message is not altered, whatever its last character.
    EXPECT_EQ(ComposeFailureText(L"No full stop"), L"No full stop\n\n" + hint);
    EXPECT_EQ(ComposeFailureText(kUnpackFailedMessage).find(L'\r'), std::wstring::npos);
}

}  // namespace
