#include <gtest/gtest.h>

#include "IpcClient.h"
#include "IpcPeer.h"
#include "ProviderMessages.h"
#include "ServiceProcess.h"

#include <algorithm>

namespace {

// reply: for sends.
struct Exchange {
    const char* what; bool send; uint32_t classId, messageId; JsonValue body; uint32_t result; JsonValue reply;
};

void Check(CIpcClient& client, const Exchange& e) {
    SCOPED_TRACE(e.what);
    JsonValue body = e.body;
    EXPECT_EQ(e.result, e.send ? client.SendMessageToProvider(e.classId, e.messageId, body)
                               : client.PostMessageToProvider(e.classId, e.messageId, body));
    if (e.send) { EXPECT_EQ(e.reply, body); }
}

} // namespace

TEST(SystemProviderHost, ServesAgainAfterAStrayResultEndsItsReceiveLoop) {
    ServiceProcess service(JsonValue::object());
    ASSERT_TRUE(service.Ready()) << service.Output();
    // A result record ends the receiving peer's loop wherever it arrives.
    CIpcCommand result;
    result.SetCommandType(OIPC_RESULT);
    CIpcBuffer stray(OIPC_RESULT, nullptr, nullptr, nullptr);
    ASSERT_TRUE(stray.StoreCommand(result));
    stray.AddDestination(service.Pipe());
    ASSERT_EQ(0u, stray.SenderProc());
    EXPECT_TRUE(KelTest::WaitUntil([&] { return service.Output().find("served again") != std::string::npos; }))
        << service.Output();

    // Served again, with the defaults of missing settings.
    CIpcClient client;
    ASSERT_TRUE(client.Initialize(service.Pipe()));
    Check(client, {"setup command", true, 13, KEL_MISC_MSG_SETUP_COMMAND, JsonValue(), 0, {{"SetupCommand", ""}}});
    Check(client, {"driver", true, 13, KEL_MISC_MSG_ETD_CHECK, JsonValue(), 0, {{"IsETDExistAndNotUpToDate", false}}});
    Check(client, {"flag", true, 13, KEL_MISC_MSG_DISPLAY_FLAG, JsonValue(), 0, {{"DisplayMainConsoleFlag", false}}});
}

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
