// The unpacking command lines and the shortcut contents.
#include <gtest/gtest.h>

#include <string>

#include "core/product.h"
#include "install/commands.h"

namespace {

const std::wstring kSystem = L"C:\\Windows\\system32";

TEST(TarCommandLine, QuotesEveryPath)
{
    struct Case {
        const char* name;
        std::wstring package, destination, expected;
    };
    const Case cases[] = {
        {"typical", L"C:\\Users\\u1\\AppData\\Local\\Temp\\Orvix-Windows.zip",
         L"C:\\Users\\u1\\AppData\\Local\\Programs",
         L"\"C:\\Windows\\system32\\tar.exe\" -xf \"C:\\Users\\u1\\AppData\\Local\\Temp\\Orvix-Windows.zip\" "
         L"-C \"C:\\Users\\u1\\AppData\\Local\\Programs\""},
        {"spaces and apostrophe", L"C:\\Users\\Mary O'Brien\\Temp\\Orvix-Windows.zip",
         L"C:\\Users\\Mary O'Brien\\Programs",
         L"\"C:\\Windows\\system32\\tar.exe\" -xf \"C:\\Users\\Mary O'Brien\\Temp\\Orvix-Windows.zip\" "
         L"-C \"C:\\Users\\Mary O'Brien\\Programs\""},
        {"non-ASCII", L"C:\\Users\\\u5c71\u7530\\T\\Orvix-Windows.zip", L"C:\\Users\\\u5c71\u7530\\P",
         L"\"C:\\Windows\\system32\\tar.exe\" -xf \"C:\\Users\\\u5c71\u7530\\T\\Orvix-Windows.zip\" "
         L"-C \"C:\\Users\\\u5c71\u7530\\P\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComposeTarCommandLine(ComposeTarPath(kSystem), c.package, c.destination), c.expected);
    }
}

TEST(PowerShellCommandLine, FullPathAndEscapedLiterals)
{
    const std::wstring head =
        L"\"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -ExecutionPolicy "
        L"Bypass -Command \"Expand-Archive -Force -LiteralPath '";
    struct Case {
        const char* name;
        std::wstring package, destination, literalPackage, literalDestination;
    };
    const Case cases[] = {
        {"spaces", L"C:\\Users\\a b\\Temp\\Orvix-Windows.zip", L"C:\\Users\\a b\\Programs",
         L"C:\\Users\\a b\\Temp\\Orvix-Windows.zip", L"C:\\Users\\a b\\Programs"},
        {"apostrophe doubled", L"C:\\Users\\O'Brien\\T\\Orvix-Windows.zip", L"C:\\Users\\O'Brien\\P",
         L"C:\\Users\\O''Brien\\T\\Orvix-Windows.zip", L"C:\\Users\\O''Brien\\P"},
        {"typographic quotes doubled", L"C:\\Users\\\u2018a\u2019\u201a\u201b\\x.zip", L"C:\\\u2019",
         L"C:\\Users\\\u2018\u2018a\u2019\u2019\u201a\u201a\u201b\u201b\\x.zip", L"C:\\\u2019\u2019"},
        {"double quotes U+201C/D untouched", L"C:\\\u201cq\u201d\\x.zip", L"C:\\d",
         L"C:\\\u201cq\u201d\\x.zip", L"C:\\d"},
        {"non-ASCII", L"C:\\Users\\J\u00f6rg\\x.zip", L"C:\\Users\\J\u00f6rg\\P", L"C:\\Users\\J\u00f6rg\\x.zip",
         L"C:\\Users\\J\u00f6rg\\P"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComposePowerShellCommandLine(ComposePowerShellPath(kSystem), c.package, c.destination),
                  head + c.literalPackage + L"' -DestinationPath '" + c.literalDestination + L"'\"");
    }
}

TEST(Shortcuts, FileNamesArgumentsAndIconsForEveryPlace)
{
    const std::wstring startMenu = ComposeStartMenuDir(L"C:\\P\\Start Menu\\Programs");
    EXPECT_EQ(startMenu, L"C:\\P\\Start Menu\\Programs\\Orvix");
    const std::wstring install = L"C:\\L\\Programs\\Orvix All In One";
    const std::wstring suite = install + L"\\Orvix.exe";
    struct Row {
        const wchar_t* file;
        const wchar_t* arguments;
        const wchar_t* icon;
    };
    const Row rows[] = {
        {L"Orvix All In One.lnk", L"", L"suite"},
        {L"Orvix Messaging.lnk", L"--place messages", L"chat"},
        {L"Orvix Camera.lnk", L"--place camera", L"camera"},
        {L"Orvix Contacts.lnk", L"--place contacts", L"contacts"},
        {L"Orvix Email.lnk", L"--place email", L"email"},
        {L"Orvix Friends In Common.lnk", L"--place them", L"friends"},
        {L"Orvix Map.lnk", L"--place map", L"map"},
        {L"Orvix Music.lnk", L"--place music", L"music"},
        {L"Orvix Alarm and Reminders.lnk", L"--place alarm", L"alarm"},
        {L"Orvix Storage Management.lnk", L"--place storage", L"storage"},
    };
    ASSERT_EQ(std::size(rows), kPlaces.size());
    for (std::size_t i = 0; i < kPlaces.size(); ++i) {
        SCOPED_TRACE(std::to_string(i + 1));
        const Place& place = kPlaces[i];
        EXPECT_EQ(ComposeShortcutPath(startMenu, place), startMenu + L"\\" + rows[i].file);
        EXPECT_EQ(ComposePlaceArguments(place.placeId), rows[i].arguments);
        const std::wstring iconFile = install + L"\\icons\\" + rows[i].icon + L".ico";
        EXPECT_EQ(ComposePlaceIconPath(install, place), iconFile);

        const IconLocation present = ChooseShortcutIcon(iconFile, true, suite);
        EXPECT_EQ(present.path, iconFile);
        EXPECT_EQ(present.index, 0);
        const IconLocation missing = ChooseShortcutIcon(iconFile, false, suite);
        EXPECT_EQ(missing.path, suite);
        EXPECT_EQ(missing.index, 0);
    }
}

}  // namespace
