// The product's names, the place table and the path composition.
#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"
#include "core/product.h"

namespace {

struct PathCase {
    const char* name;
    std::wstring programsDir;
    std::wstring installDir;
    std::wstring suiteExe;
};

TEST(ProductPaths, InstallFolderAndSuiteExecutable)
{
    const PathCase cases[] = {
        {"typical", L"C:\\Users\\u1\\AppData\\Local\\Programs",
         L"C:\\Users\\u1\\AppData\\Local\\Programs\\Orvix All In One",
         L"C:\\Users\\u1\\AppData\\Local\\Programs\\Orvix All In One\\Orvix.exe"},
        {"non-ASCII user", L"C:\\Users\\J\u00f6rg \u00c5str\u00f6m\\AppData\\Local\\Programs",
         L"C:\\Users\\J\u00f6rg \u00c5str\u00f6m\\AppData\\Local\\Programs\\Orvix All In One",
         L"C:\\Users\\J\u00f6rg \u00c5str\u00f6m\\AppData\\Local\\Programs\\Orvix All In One\\Orvix.exe"},
        {"empty folder part", L"", L"\\Orvix All In One", L"\\Orvix All In One\\Orvix.exe"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComposeInstallDir(c.programsDir), c.installDir);
        EXPECT_EQ(ComposeSuiteExePath(ComposeInstallDir(c.programsDir)), c.suiteExe);
    }
}

TEST(ProductPaths, UserProgramFilesFromLocalAppData)
{
    EXPECT_EQ(ComposeUserProgramFilesDir(L"C:\\users\\u1\\AppData\\Local"),
              L"C:\\users\\u1\\AppData\\Local\\Programs");
    // An unknown local folder must not turn into "\Programs" at the root of the drive.
    EXPECT_EQ(ComposeUserProgramFilesDir(L""), L"");
}

TEST(ProductPaths, TemporaryPackageFileAddsNoSeparator)
{
    EXPECT_EQ(ComposeTempPackagePath(L"C:\\Users\\u1\\AppData\\Local\\Temp\\"),
              L"C:\\Users\\u1\\AppData\\Local\\Temp\\Orvix-Windows.zip");
}

TEST(PlaceTable, TenRowsInOrder)
{
    struct Row {
        const wchar_t* name;
        const wchar_t* id;
        const wchar_t* icon;
    };
    const Row expected[] = {
        {L"Orvix All In One", L"", L"suite"},
        {L"Orvix Messaging", L"messages", L"chat"},
        {L"Orvix Camera", L"camera", L"camera"},
        {L"Orvix Contacts", L"contacts", L"contacts"},
        {L"Orvix Email", L"email", L"email"},
        {L"Orvix Friends In Common", L"them", L"friends"},
        {L"Orvix Map", L"map", L"map"},
        {L"Orvix Music", L"music", L"music"},
        {L"Orvix Alarm and Reminders", L"alarm", L"alarm"},
        {L"Orvix Storage Management", L"storage", L"storage"},
    };
    ASSERT_EQ(kPlaces.size(), std::size(expected));
    for (std::size_t i = 0; i < kPlaces.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(std::wstring(kPlaces[i].shortcutName), expected[i].name);
        EXPECT_EQ(std::wstring(kPlaces[i].placeId), expected[i].id);
        EXPECT_EQ(std::wstring(kPlaces[i].iconBaseName), expected[i].icon);
    }
}

TEST(PlaceTable, OwnPlaceIsEmail)
{
    EXPECT_EQ(std::wstring(kOwnCaption), L"Orvix Email");
    EXPECT_EQ(std::wstring(kOwnPlace.placeId), L"email");
}

TEST(PlaceArguments, OptionThenIdOrNothing)
{
    EXPECT_EQ(ComposePlaceArguments(kOwnPlace.placeId), L"--place email");
    EXPECT_EQ(ComposePlaceArguments(L"them"), L"--place them");
    // The whole suite is started with no arguments, not with a bare "--place ".
    EXPECT_EQ(ComposePlaceArguments(L""), L"");
}

TEST(Messages, QuestionTextByteForByte)
{
    EXPECT_EQ(ComposeQuestionText(),
              L"Orvix Email is part of Orvix All In One, which is not installed on this PC yet.\n\n"
              L"Download and install it now (about 40 MB)? It goes in your own Programs folder, "
              L"with a Start menu shortcut for each of its places.");
    EXPECT_EQ(ComposeQuestionText().find(L'\r'), std::wstring::npos);
}

TEST(Messages, StatusTextsEndInOneEllipsisCharacter)
{
    for (const std::wstring& text : {std::wstring(kStatusDownloading), std::wstring(kStatusInstalling),
                                    std::wstring(kStatusAddingShortcuts)}) {
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), L'\u2026');
        EXPECT_EQ(text.find(L"..."), std::wstring::npos);
    }
    EXPECT_EQ(std::wstring(kStatusAddingShortcuts), L"Adding the Start menu shortcuts\u2026");
}

}  // namespace
