#include <gtest/gtest.h>

#include <algorithm>

#include "IpcDefs.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "ServiceProcess.h"

namespace {

using KelTest::Argument;

// Class 6 played by the test: answers each send with the code its body names.
struct CodeProvider : KelTest::ProviderStub {
    CodeProvider() : ProviderStub(KEL_PROVIDER_WORKSPACE) {}
    uint32_t MessageProc(uint32_t, JsonValue& body) override {
        const auto code = static_cast<uint32_t>(KelJson::GetInt(body, "code"));
        body = {{"ok", 1}};
        return code;
    }
};

// output: a text the output holds.
struct KelctlRun { const char* what; std::wstring arguments; DWORD exitCode; std::string output; };

void Check(KelTest::ChildProcess& kelctl, const KelctlRun& run) {
    SCOPED_TRACE(run.what);
    EXPECT_EQ(run.exitCode, kelctl.Wait(KelTest::CHILD_START_MS)) << kelctl.Output();
    EXPECT_NE(std::string::npos, kelctl.Output().find(run.output)) << kelctl.Output();
}

// folder: the kelctl of another build, or empty for this one's.
std::unique_ptr<KelTest::ChildProcess> Start(const KelctlRun& run, const std::wstring& folder = std::wstring()) {
    return std::make_unique<KelTest::ChildProcess>(L"kelctl.exe", run.arguments,
                                                   KelTest::ChildOptions().Capture().From(folder));
}

void CheckAll(const std::vector<KelctlRun>& runs, const std::wstring& folder = std::wstring()) {
    for (const KelctlRun& run : runs) Check(*Start(run, folder), run);
}

// This build's kelctl, and where the machine runs both architectures the
// other build's, whose folder scripts/test.sh names: a 32-bit and a 64-bit
// process read each other's records byte for byte.
std::vector<std::wstring> KelctlFolders() {
    const wchar_t* other = _wgetenv(L"KEL_OTHER_ARCH_BIN");
    return other && *other ? std::vector<std::wstring>{L"", other} : std::vector<std::wstring>{L""};
}

} // namespace

TEST(Kelctl, DrivesTheProductsServiceOnTheSystemPipe) {
    ServiceProcess service({{"SetupCommand", "setup.exe"}}, IPC_SYSTEM_PIPE);
    ASSERT_TRUE(service.Ready()) << service.Output();
    CheckAll({
        // The family of 0x1F picks the system pipe by itself.
        {"send", L"send 13 0x1F000005", 0, "{\"SetupCommand\":\"setup.exe\"}"},
        {"post", L"post --system 12 0x1E000001 " + Argument(L"{\"RefreshIESettings\":true}"), 0, "result 0x0"},
    });

    // Listeners in other kelctl processes hear what one has the service broadcast.
    const std::vector<KelctlRun> listens = {
        {"enough notifications", L"listen 2 --count 1 --timeout 20", 0, "notify 0x00020001 {\"a\":1}"},
        {"too few in time", L"listen 2 --count 2 --timeout 4", 5, "fewer notifications than --count"},
        {"the server goes away", L"listen 2 --count 2 --timeout 60", 3, "QVIPCCERULEANSYSTEM went away"},
    };
    std::vector<std::unique_ptr<KelTest::ChildProcess>> listeners;
    for (const KelctlRun& listen : listens) listeners.push_back(Start(listen));
    // The two exchanges above are in the service's journal, and the listeners.
    ASSERT_TRUE(KelTest::WaitUntil([&] { return service.Journal().size() >= 2 + listens.size(); }));
    CheckAll({{"broadcast", L"broadcast 0x00020001 " + Argument(L"{\"a\":1}"), 0, "result 0x00000000"}});
    for (size_t i = 0; i < 2; ++i) Check(*listeners[i], listens[i]);   // the third waits for the stop

    const std::vector<JsonValue> journal = service.Journal();
    const JsonValue posted = {{"mode", "post"}, {"class", 12}, {"message", "0x1e000001"},
                              {"body", {{"RefreshIESettings", true}}}};
    EXPECT_EQ(1, std::count(journal.begin(), journal.end(), posted));

    CheckAll({{"stop the service", L"stop-service", 0, "result 0x00000000"}});
    EXPECT_EQ(0u, service.Stop());
    Check(*listeners[2], listens[2]);
}

TEST(Kelctl, ReachesTheAgentsProvidersOnTheSessionPipe) {
    CIpcServerProviderWrapper agent;   // the agent's side, with the real provider library
    ASSERT_TRUE(agent.Initialize());
    ASSERT_TRUE(agent.Start());
    CodeProvider workspace;
    ASSERT_EQ(0u, agent.RegisterProvider(&workspace));
    const std::wstring send = L"send 6 0x18000008 ";
    // Only the framework's failures fail, and the transport's own ones tell what was lost.
    for (const std::wstring& folder : KelctlFolders()) CheckAll({
        {"post", L"post --session 3 0x1100001C", 0, "result 0x00000000"},
        {"a provider's own small result", send + Argument(L"{\"code\":119}"), 0, "result 0x00000077\r\n{\"ok\":1}"},
        {"a provider's failure", send + Argument(L"{\"code\":268435458}"), 1, "result 0x10000002"},
        {"a query timed out", send + Argument(L"{\"code\":268566541}"), 4, "the transport failed: no answer in time"},
        {"nobody listens", send + Argument(L"{\"code\":268566544}"), 4, "the transport failed: message or answer lost"},
    }, folder);
    agent.Uninitialize();
}

TEST(Kelctl, ExplainsWhatIsWrong) {
    CheckAll({
        {"no agent", L"send 6 0x18000022", 3, "nobody serves \\\\.\\pipe\\QVIPCCERULEANSESSION"},
        {"bad number", L"send 13 0x1F00000G", 2, "not a number: 0x1F00000G"},
        {"bad JSON", L"send 13 1 " + Argument(L"{\"a\":"), 2, "not JSON: {\"a\":"},
        {"unknown option", L"send --colour 13 1", 2, "unknown option '--colour'"},
        {"unknown verb", L"frobnicate", 2, "unknown verb 'frobnicate'"},
        {"nothing at all", L"", 2, "usage:"},
    });
}

