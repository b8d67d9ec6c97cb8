// The default browser and its version from the prefix's real registry, as
// each Windows version keeps them.
#include <gtest/gtest.h>

#include "DefaultBrowser.h"
#include "TestSupport.h"
#include "Version.h"

using KelTest::RegistryScope;

namespace {

const QvCommon::Version::Record WIN7 = {0, VER_PLATFORM_WIN32_NT, 6, 1}, VISTA = {0, VER_PLATFORM_WIN32_NT, 6, 0},
                                XP = {0, VER_PLATFORM_WIN32_NT, 5, 1};

} // namespace

TEST(DefaultBrowser, AssociationOfTheWindowsVersionNamesTheBrowser) {
    const struct { const char* what; QvCommon::Version::Record system; std::wstring url, htm, command, expected; } cases[] = {
        {"IE", WIN7, L"IE.HTTP", L"", L"", QVBROWSER_IE},
        {"Firefox", WIN7, L"FirefoxURL", L"", L"", QVBROWSER_FIREFOX},
        {"Chrome in any case", WIN7, L"chromehtml", L"", L"", QVBROWSER_CHROME},
        {"another browser", WIN7, L"OperaStable", L"", L"", QVBROWSER_UNKNOWN},
        {"the earlier rule wins", WIN7, L"ChromeHTML FirefoxURL", L"", L"", QVBROWSER_FIREFOX},
        {"no choice", WIN7, L"", L"ChromeHTML", L"", QVBROWSER_UNKNOWN},
        {"Vista reads .htm", VISTA, L"IE.HTTP", L"ChromeHTML", L"", QVBROWSER_CHROME},
        {"XP reads the open command", XP, L"IE.HTTP", L"IE.HTTP",
         L"\"C:\\Program Files\\Mozilla Firefox\\FIREFOX.EXE\" -url \"%1\"", QVBROWSER_FIREFOX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The classes and the user's keys are read in the process's own view.
        RegistryScope url(QVBROWSER_KEY_URL_CHOICE, KelTest::OWN_VIEW, HKEY_CURRENT_USER),
            htm(QVBROWSER_KEY_HTM_CHOICE, KelTest::OWN_VIEW, HKEY_CURRENT_USER),
            command(QVBROWSER_KEY_HTTP_COMMAND, KelTest::OWN_VIEW, HKEY_CLASSES_ROOT);
        for (auto& set : {std::make_pair(&url, c.url), std::make_pair(&htm, c.htm)})
            ASSERT_TRUE(set.second.empty() ? set.first->Remove(QVBROWSER_VALUE_CHOICE)
                                           : set.first->SetString(QVBROWSER_VALUE_CHOICE, set.second));
        ASSERT_TRUE(c.command.empty() ? command.Remove(L"") : command.SetString(L"", c.command));
        QvCommon::Version::OverrideForTest(c.system);
        const std::wstring browser = KelCommon::GetDefaultBrowserName();
        QvCommon::Version::RestoreForTest();
        EXPECT_EQ(c.expected, browser);
    }
}

TEST(DefaultBrowser, VersionFromEachBrowsersOwnEntry) {
    RegistryScope ie(QVBROWSER_KEY_IE), ie32(QVBROWSER_KEY_IE, KEY_WOW64_32KEY);
    RegistryScope firefox(QVBROWSER_KEY_FIREFOX), firefox32(QVBROWSER_KEY_FIREFOX, KEY_WOW64_32KEY);
    RegistryScope chromeUser(QVBROWSER_KEY_CHROME, KEY_WOW64_32KEY, HKEY_CURRENT_USER),
        chromeMachine(QVBROWSER_KEY_CHROME, KEY_WOW64_32KEY);
    // Under WOW64, Internet Explorer's entry is the 64-bit one; Firefox's the 32-bit one.
    ASSERT_TRUE(ie.SetString(QVBROWSER_VALUE_IE_VERSION, L"9.0.8112.16421") && ie32.SetString(QVBROWSER_VALUE_IE_VERSION, L"6.0") &&
                firefox.SetString(QVBROWSER_VALUE_FIREFOX_VERSION, L"64-bit") &&
                firefox32.SetString(QVBROWSER_VALUE_FIREFOX_VERSION, L"3.6.28 (en-US)") &&
                chromeUser.SetString(QVBROWSER_VALUE_CHROME_VERSION, L"20.0.1132.47") &&
                chromeMachine.SetString(QVBROWSER_VALUE_CHROME_VERSION, L"18.0.1025.162"));
    const struct { std::wstring name, expected; } cases[] = {
        {QVBROWSER_IE, L"9.0.8112.16421"}, {QVBROWSER_FIREFOX, L"3.6.28 (en-US)"}, {QVBROWSER_CHROME, L"20.0.1132.47"},
        {L"Chrome.exe", L""}, {QVBROWSER_UNKNOWN, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, KelCommon::GetBrowserVersion(c.name)) << KelTest::Narrow(c.name);
    // Installed for the machine only.
    ASSERT_TRUE(chromeUser.Remove(QVBROWSER_VALUE_CHROME_VERSION));
    EXPECT_EQ(L"18.0.1025.162", KelCommon::GetBrowserVersion(QVBROWSER_CHROME));
}
