#include <gtest/gtest.h>

#include "ServiceProcess.h"

TEST(SystemProviderHost, RefusesBadStartsWithAReadableMessage) {
    ServiceProcess first(JsonValue::object());
    ASSERT_TRUE(first.Ready()) << first.Output();
    // Wine's GetTempPathW answers 0 for a TMP longer than MAX_PATH (Windows
    // would name the long folder): the service has no place for its journal.
    const std::wstring longTemp = L"C:\\" + std::wstring(300, L't');
    // temp: TMP of the service, when not empty.
    const struct { const char* what; std::wstring arguments, temp; DWORD exitCode; const char* message; } cases[] = {
        {"the pipe is served already", L"--pipe " + first.Pipe(), L"", 1, "is another service running?"},
        {"an unknown option", L"--colour red", L"", 2, "usage: SystemProviderHost"},
        {"an option without its value", L"--pipe", L"", 2, "usage: SystemProviderHost"},
        {"a missing settings file", L"--config C:\\no\\such.json", L"", 2, "cannot read C:\\no\\such.json"},
        {"no temp folder", L"--pipe " + KelTest::UniqueName(L"kelsys"), longTemp, 2, "no temp folder for the journal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::EnvironmentScope temp(L"TMP", c.temp.empty() ? KelTest::TempPath() : c.temp);
        KelTest::ChildProcess host(L"SystemProviderHost.exe", c.arguments, KelTest::ChildOptions().Capture());
        EXPECT_EQ(c.exitCode, host.Wait(KelTest::CHILD_START_MS));
        EXPECT_NE(std::string::npos, host.Output().find(c.message)) << host.Output();
    }
}
