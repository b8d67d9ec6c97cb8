#include <gtest/gtest.h>

#include <algorithm>

#include "IpcDefs.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

namespace {

// One argument as the Windows command-line rules read it back.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    for (wchar_t c : argument) {
        if (c == L'"') quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

struct Outcome {
    DWORD exitCode;
    std::string output;
};

Outcome Kelctl(const std::wstring& arguments) {
    KelTest::ChildProcess kelctl(L"kelctl.exe", arguments, KelTest::ChildProcess::OutputMode::Capture);
    DWORD code = kelctl.Wait(30000);
    return {code, kelctl.Output()};
}

bool Has(const Outcome& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

} // namespace

TEST(Kelctl, DrivesTheProductsServiceOnTheSystemPipe) {
    ServiceProcess service({{"SetupCommand", "setup.exe"}}, IPC_SYSTEM_PIPE);
    ASSERT_TRUE(service.Ready()) << service.Output();

    // The family of 0x1F picks the system pipe by itself.
    Outcome send = Kelctl(L"send 13 0x1F000005");
    EXPECT_EQ(0u, send.exitCode) << send.output;
    EXPECT_TRUE(Has(send, "result 0x00000000")) << send.output;
    EXPECT_TRUE(Has(send, "{\"SetupCommand\":\"setup.exe\"}")) << send.output;

    Outcome post = Kelctl(L"post --system 12 0x1E000001 " + Quoted(L"{\"RefreshIESettings\":true}"));
    EXPECT_EQ(0u, post.exitCode) << post.output;

    Outcome failure = Kelctl(L"send 13 0x1F0000AA");
    EXPECT_EQ(1u, failure.exitCode);
    EXPECT_TRUE(Has(failure, "result 0x10000002")) << failure.output;

    // A listener in one kelctl hears what another has the service broadcast.
    KelTest::ChildProcess listener(L"kelctl.exe", L"listen 2 --count 1 --timeout 20",
                                   KelTest::ChildProcess::OutputMode::Capture);
    ASSERT_TRUE(service.WaitForJournal(4));   // the send, the post, the failure and the listener
    Outcome broadcast = Kelctl(L"broadcast 0x00020001 " + Quoted(L"{\"a\":1}"));
    EXPECT_EQ(0u, broadcast.exitCode) << broadcast.output;
    EXPECT_EQ(0u, listener.Wait(30000));
    EXPECT_NE(std::string::npos, listener.Output().find("notify 0x00020001 {\"a\":1}")) << listener.Output();

    std::vector<JsonValue> journal = service.Journal();
    auto post_entry = std::find_if(journal.begin(), journal.end(),
                                   [](const JsonValue& entry) { return entry["mode"] == "post"; });
    ASSERT_NE(journal.end(), post_entry);
    EXPECT_EQ(12, (*post_entry)["class"]);
    EXPECT_EQ(true, (*post_entry)["body"]["RefreshIESettings"]);

    Outcome stop = Kelctl(L"stop-service");
    EXPECT_EQ(0u, stop.exitCode) << stop.output;
    EXPECT_EQ(0u, service.Stop());
}

TEST(Kelctl, ReachesTheAgentsProvidersOnTheSessionPipe) {
    CIpcServerProviderWrapper agent;   // the agent's side, with the real provider library
    ASSERT_TRUE(agent.Initialize());
    ASSERT_TRUE(agent.Start());
    Outcome send = Kelctl(L"send 3 0x11000009 " + Quoted(L"{\"PinState\":0}"));
    EXPECT_EQ(0u, send.exitCode) << send.output;
    EXPECT_TRUE(Has(send, "\"PinState\":")) << send.output;
    Outcome post = Kelctl(L"post --session 3 0x1100001C");
    EXPECT_EQ(0u, post.exitCode) << post.output;
    agent.Uninitialize();
}

TEST(Kelctl, ExplainsWhatIsWrong) {
    const std::wstring nobody = KelTest::UniqueName(L"nobody");
    struct Case {
        const char* what;
        std::wstring arguments;
        DWORD exitCode;
        const char* message;
    } cases[] = {
        {"no service", L"send 13 0x1F000005", 3, "nobody serves \\\\.\\pipe\\QVIPCCERULEANSYSTEM"},
        {"no agent", L"send 6 0x18000022", 3, "nobody serves \\\\.\\pipe\\QVIPCCERULEANSESSION"},
        {"post to nobody", L"post --pipe " + nobody + L" 13 1", 3, "nobody serves"},
        {"listen to nobody", L"listen --pipe " + nobody + L" 2", 3, "nobody serves"},
        {"bad number", L"send 13 0x1F00000G", 2, "not a number: 0x1F00000G"},
        {"negative number", L"send -3 1", 2, "not a number: -3"},
        {"number too large", L"send 13 0x100000000", 2, "not a number: 0x100000000"},
        {"bad JSON", L"send 13 1 " + Quoted(L"{\"a\":"), 2, "not JSON: {\"a\":"},
        {"listener class too large", L"listen 0x10000", 2, "not a listener class"},
        {"option without value", L"send --pipe", 2, "--pipe needs a value"},
        {"missing message", L"send 13", 2, "usage:"},
        {"unknown command", L"frobnicate", 2, "usage:"},
        {"nothing at all", L"", 2, "usage:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome run = Kelctl(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode) << run.output;
        EXPECT_TRUE(Has(run, c.message)) << run.output;
    }
}
