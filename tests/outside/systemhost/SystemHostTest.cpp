#include <gtest/gtest.h>

#include "IpcClient.h"
#include "ProviderMessages.h"
#include "ServiceProcess.h"

#include <algorithm>
#include <mutex>

namespace {

struct Exchange {
    const char* what;
    bool send;
    uint32_t classId;
    uint32_t messageId;
    JsonValue body;
    uint32_t result;
    JsonValue reply;   // for sends
};

void Check(CIpcClient& client, const Exchange& e) {
    SCOPED_TRACE(e.what);
    JsonValue body = e.body;
    if (e.send) {
        EXPECT_EQ(e.result, client.SendMessageToProvider(e.classId, e.messageId, body));
        EXPECT_EQ(e.reply, body);
    } else {
        EXPECT_EQ(e.result, client.PostMessageToProvider(e.classId, e.messageId, body));
    }
}

std::string Hex(uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", id);
    return text;
}

} // namespace

TEST(SystemProviderHost, AnswersTheAgentsQuestionsAndKeepsAJournal) {
    ServiceProcess service({{"SetupCommand", "C:\\setup.exe /x"},
                            {"IsETDExistAndNotUpToDate", true},
                            {"DisplayMainConsoleFlag", true}});
    ASSERT_TRUE(service.Ready()) << service.Output();
    CIpcClient client;
    ASSERT_TRUE(client.Initialize(service.Pipe()));
    const JsonValue none;
    const Exchange exchanges[] = {
        {"setup command", true, 13, KEL_MISC_MSG_SETUP_COMMAND, none, 0, {{"SetupCommand", "C:\\setup.exe /x"}}},
        {"keyboard driver", true, 13, KEL_MISC_MSG_ETD_CHECK, {{"IsETDExistAndNotUpToDate", false}}, 0,
         {{"IsETDExistAndNotUpToDate", true}}},
        {"display flag", true, 13, KEL_MISC_MSG_DISPLAY_FLAG, JsonValue::object(), 0, {{"DisplayMainConsoleFlag", true}}},
        {"clear the flag", true, 13, KEL_MISC_MSG_DISPLAY_FLAG, {{"ClearFlag", nullptr}}, 0,
         {{"DisplayMainConsoleFlag", false}}},
        {"flag stays cleared", true, 13, KEL_MISC_MSG_DISPLAY_FLAG, JsonValue::object(), 0,
         {{"DisplayMainConsoleFlag", false}}},
        {"entry point", true, 13, KEL_MISC_MSG_ENTRY_POINT, {{"EntryPoint", "Welcome"}}, 0, {{"EntryPoint", "Welcome"}}},
        {"entry point not a string", true, 13, KEL_MISC_MSG_ENTRY_POINT, {{"EntryPoint", 5}},
         PROVIDER_RESULT_INVALID_PARAMETER, {{"EntryPoint", 5}}},
        {"unknown message", true, 13, 0x1F0000AA, none, PROVIDER_RESULT_NOT_SUPPORTED, none},
        {"unknown class", true, 99, KEL_MISC_MSG_SETUP_COMMAND, none, PROVIDER_RESULT_NOT_SUPPORTED, none},
        {"browser settings", false, 12, KEL_BROWSER_MSG_REFRESH_SETTINGS, {{"RefreshIESettings", true}}, 0, none},
        {"before driver check", false, 13, KEL_MISC_MSG_BEFORE_DRIVER_CHECK, none, 0, none},
        {"keystroke enabled", false, 13, KEL_MISC_MSG_KEYSTROKE_ENABLED, {{"PinDriverEnable", true}}, 0, none},
    };
    for (const Exchange& e : exchanges) Check(client, e);

    // Posts leave through the client's worker pool, so their order among
    // themselves is not fixed: the journal holds each exchange as often as
    // it was made.
    ASSERT_TRUE(service.WaitForJournal(std::size(exchanges)));
    std::vector<JsonValue> journal = service.Journal();
    std::vector<JsonValue> expected;
    for (const Exchange& e : exchanges)
        expected.push_back({{"mode", e.send ? "send" : "post"},
                            {"class", e.classId},
                            {"message", Hex(e.messageId)},
                            {"body", e.body}});
    std::sort(journal.begin(), journal.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, journal);
    client.Uninitialize();
    EXPECT_EQ(0u, service.Stop());
    EXPECT_NE(std::string::npos, service.Output().find("SystemProviderHost: stopped"));
}

TEST(SystemProviderHost, MissingSettingsGiveTheDefaults) {
    ServiceProcess service(JsonValue::object());
    ASSERT_TRUE(service.Ready()) << service.Output();
    CIpcClient client;
    ASSERT_TRUE(client.Initialize(service.Pipe()));
    Check(client, {"setup command", true, 13, KEL_MISC_MSG_SETUP_COMMAND, JsonValue(), 0, {{"SetupCommand", ""}}});
    Check(client, {"driver", true, 13, KEL_MISC_MSG_ETD_CHECK, JsonValue(), 0, {{"IsETDExistAndNotUpToDate", false}}});
    Check(client, {"flag", true, 13, KEL_MISC_MSG_DISPLAY_FLAG, JsonValue(), 0, {{"DisplayMainConsoleFlag", false}}});
}

namespace {
struct Heard {
    std::mutex lock;
    std::vector<std::pair<uint32_t, JsonValue>> calls;
};
void Listener(void* context, uint32_t messageId, JsonValue& body) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard<std::mutex> guard(heard->lock);
    if (messageId != 0) heard->calls.push_back({messageId, body});
}
} // namespace

TEST(SystemProviderHost, BroadcastsExitAndRestartToTheAgentsListeners) {
    ServiceProcess service(JsonValue::object());
    ASSERT_TRUE(service.Ready()) << service.Output();
    Heard control, agent;
    CIpcClient client;
    ASSERT_TRUE(client.Initialize(service.Pipe()));
    ASSERT_EQ(0u, client.AddMessageListener(KEL_LISTENER_CLASS_AGENT_CONTROL, &Listener, &control));
    ASSERT_EQ(0u, client.AddMessageListener(KEL_LISTENER_CLASS_AGENT, &Listener, &agent));
    ASSERT_TRUE(service.WaitForJournal(2));   // both listeners have joined

    EXPECT_EQ(0u, service.Broadcast(KEL_BROADCAST_AGENT_EXIT, JsonValue()));
    EXPECT_EQ(0u, service.Broadcast(KEL_BROADCAST_AGENT_RESTART, {{"reason", "memory"}}));
    for (int i = 0; i < 250; ++i) {
        {
            std::lock_guard<std::mutex> a(control.lock), b(agent.lock);
            if (!control.calls.empty() && !agent.calls.empty()) break;
        }
        ::Sleep(20);
    }
    ::Sleep(200);   // time for a wrong extra delivery to show
    std::lock_guard<std::mutex> a(control.lock), b(agent.lock);
    ASSERT_EQ(1u, control.calls.size());
    EXPECT_EQ(KEL_BROADCAST_AGENT_EXIT, control.calls[0].first);
    ASSERT_EQ(1u, agent.calls.size());
    EXPECT_EQ(KEL_BROADCAST_AGENT_RESTART, agent.calls[0].first);
    EXPECT_EQ("memory", agent.calls[0].second["reason"]);
}

TEST(SystemProviderHost, RefusesBadStartsWithAReadableMessage) {
    ServiceProcess first(JsonValue::object());
    ASSERT_TRUE(first.Ready()) << first.Output();
    struct Case {
        const char* what;
        std::wstring arguments;
        DWORD exitCode;
        const char* message;
    } cases[] = {
        {"the pipe is served already", L"--pipe " + first.Pipe(), 1, "is another service running?"},
        {"an unknown option", L"--colour red", 2, "usage: SystemProviderHost"},
        {"an option without its value", L"--pipe", 2, "usage: SystemProviderHost"},
        {"a missing settings file", L"--config C:\\no\\such.json", 2, "cannot read C:\\no\\such.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::ChildProcess host(L"SystemProviderHost.exe", c.arguments, KelTest::ChildProcess::OutputMode::Capture);
        EXPECT_EQ(c.exitCode, host.Wait(SERVICE_START_MS));
        EXPECT_NE(std::string::npos, host.Output().find(c.message)) << host.Output();
    }
}
