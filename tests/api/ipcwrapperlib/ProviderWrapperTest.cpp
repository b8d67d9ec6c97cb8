#include <gtest/gtest.h>

#include "IpcClassFactory.h"
#include "IpcDefs.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

#include <atomic>
#include <mutex>

namespace {

// The workspace's class, played by the test: records the thread of each call.
class TestWorkspace : public IFunctionProvider {
public:
    explicit TestWorkspace(IProviderController* controller) : IFunctionProvider(controller) {
        m_classId = KEL_PROVIDER_WORKSPACE;
    }
    uint32_t Initialize() override { return 0; }
    uint32_t PostInitialize() override { return 0; }
    uint32_t Uninitialize() override { return 0; }
    bool QueryState(uint32_t, uint32_t) override { return true; }
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override {
        thread = ::GetCurrentThreadId();
        body = {{"shown", messageId == KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE}};
        return 0;
    }
    std::atomic<DWORD> thread{0};
};

struct Heard {
    std::mutex lock;
    std::vector<uint32_t> messages;
    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return messages.size();
    }
};

void Listener(void* context, uint32_t messageId, JsonValue&) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard<std::mutex> guard(heard->lock);
    if (messageId != 0) heard->messages.push_back(messageId);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    while (!condition()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

bool JournalHas(const ServiceProcess& service, const char* mode, uint32_t classId) {
    for (const JsonValue& entry : service.Journal())
        if (entry["mode"] == mode && entry["class"] == classId) return true;
    return false;
}

} // namespace

TEST(ProviderWrappers, AgentSideRoutesEachFamilyToItsPlace) {
    ServiceProcess service({{"SetupCommand", "setup.exe /repair"}}, IPC_SYSTEM_PIPE);
    ASSERT_TRUE(service.Ready()) << service.Output();

    CIpcServerProviderWrapper wrapper;
    ASSERT_TRUE(wrapper.Initialize());
    ASSERT_TRUE(wrapper.PostInitialize());
    ASSERT_TRUE(wrapper.Start());
    EXPECT_TRUE(CIpcServerProviderWrapper::IsSessionAgentRunning());

    // The session side's workspace: in this process, on the caller's thread.
    TestWorkspace workspace(&wrapper);
    ASSERT_EQ(0u, wrapper.RegisterProvider(&workspace));
    JsonValue body;
    ASSERT_EQ(0u, wrapper.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE, body));
    EXPECT_EQ(::GetCurrentThreadId(), workspace.thread.load());
    EXPECT_TRUE(KelJson::GetBool(body, "shown"));

    // The PIN provider of the library, also in this process.
    body = {{"PinState", 0u}};
    ASSERT_EQ(0u, wrapper.SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body));
    EXPECT_TRUE(body.contains("PinState"));

    // The misc provider: over the system pipe, in the service.
    body = JsonValue();
    ASSERT_EQ(0u, wrapper.SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_SETUP_COMMAND, body));
    EXPECT_EQ("setup.exe /repair", body["SetupCommand"]);
    EXPECT_TRUE(JournalHas(service, "send", KEL_PROVIDER_MISC));

    // A listener of class 0x0002 joins the service, and hears its broadcast once.
    Heard heard;
    ASSERT_EQ(0u, wrapper.AddMessageListener(KEL_LISTENER_CLASS_AGENT_CONTROL, &Listener, &heard));
    ASSERT_TRUE(WaitUntil([&] { return JournalHas(service, "listen", KEL_LISTENER_CLASS_AGENT_CONTROL); }));
    EXPECT_EQ(0u, service.Broadcast(KEL_BROADCAST_AGENT_EXIT, JsonValue()));
    ASSERT_TRUE(WaitUntil([&] { return heard.Count() == 1; }));
    ::Sleep(200);
    EXPECT_EQ(1u, heard.Count());

    EXPECT_EQ(0u, wrapper.UnregisterProvider(KEL_PROVIDER_WORKSPACE));
    wrapper.Stop();
    wrapper.Uninitialize();
    EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
    EXPECT_EQ(nullptr, ::GetModuleHandleW(PROVIDER_LIBRARY_NAME));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper.SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body));
    EXPECT_EQ(0u, service.Stop());
}

TEST(ProviderWrappers, SessionAgentRunsWhileEveryInstanceIsBusy) {
    EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
    const wchar_t* name = L"\\\\.\\pipe\\" IPC_SESSION_PIPE;
    QvCommon::UniqueHandle server(::CreateNamedPipeW(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1,
                                                     1024, 1024, 0, nullptr));
    ASSERT_TRUE(server.valid());
    QvCommon::UniqueHandle writer(::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid());   // the only instance is taken now
    EXPECT_TRUE(CIpcServerProviderWrapper::IsSessionAgentRunning());
    writer.reset();
    server.reset();
    EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
}

TEST(ProviderWrappers, ClientBroadcastReachesBothPipesAndReportsTheSystems) {
    KelTest::CapturedLog log;
    CIpcClientProviderWrapper wrapper;
    ASSERT_TRUE(wrapper.Initialize());
    Heard session, system;
    // Both registrations stay local to this process's clients; their advises
    // find no server, which does not matter here.
    ASSERT_EQ(0u, wrapper.AddMessageListener(0x0002, &Listener, &system));
    ASSERT_EQ(0u, wrapper.AddMessageListener(0x1102, &Listener, &session));
    EXPECT_EQ(0u, wrapper.BroadcastMessageToListeners(KEL_BROADCAST_DESKTOP_LOCKED, JsonValue()));
    ASSERT_TRUE(WaitUntil([&] { return session.Count() == 1; }));

    // The session client fails; the system client still hears, and answers.
    CIpcClient* sessionClient = IpcClassFactory::Instance().CreateClient(false);
    sessionClient->Uninitialize();
    EXPECT_EQ(0u, wrapper.BroadcastMessageToListeners(KEL_BROADCAST_AGENT_STOPPING, JsonValue()));
    ASSERT_TRUE(WaitUntil([&] { return system.Count() == 1; }));
    EXPECT_TRUE(log.WaitFor("BroadcastMessageToListeners: session pipe failed: 0x10000005"));
    IpcClassFactory::Instance().ReleaseClient(sessionClient);
}

TEST(ProviderWrappers, UninitialisedWrappersAnswerNotInitialised) {
    CIpcClientProviderWrapper client;
    CIpcServerProviderWrapper server;
    JsonValue body;
    for (IProviderController* wrapper : {static_cast<IProviderController*>(&client),
                                         static_cast<IProviderController*>(&server)}) {
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->SendMessageToProvider(13, 0x1F000005, body));
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->PostMessageToProvider(6, 0x18000008, body));
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->ControlMessage(0x18000001, 0));
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->AddMessageListener(2, &Listener, nullptr));
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->RemoveMessageListener(2, &Listener, nullptr));
        EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, wrapper->BroadcastMessageToListeners(0x00020002, body));
    }
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, client.RegisterProvider(nullptr));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.RegisterProvider(nullptr));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.UnregisterProvider(6));
    EXPECT_TRUE(server.PostInitialize());   // nothing to do
    EXPECT_FALSE(server.Start());           // no server to start
}

// The library is looked up beside the program first (a relative ".\" path
// goes through the loader's search order, as on Windows), so each case runs a
// probe that lies in a folder of its own beside a broken library, or none.
TEST(ProviderWrappers, BrokenProviderLibrariesLeaveNothingLoaded) {
    struct Case {
        const wchar_t* folder;
        const char* logged;
    } cases[] = {
        {L"providers_init_fails", "CIpcServerProviderWrapper::Initialize: InitializeProviders() failed: 0x10000001"},
        {L"providers_no_query", "CIpcServerProviderWrapper::Initialize: Failed to load ProviderManager."},
        {L"providers_none", "CIpcServerProviderWrapper::Initialize: Failed to load ProviderManager."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(KelTest::Narrow(c.folder));
        KelTest::TempFolder logFolder;
        KelTest::ChildProcess probe(std::wstring(c.folder) + L"\\wrapper_probe.exe", logFolder.Path(),
                                    KelTest::ChildProcess::OutputMode::Capture);
        ASSERT_EQ(0u, probe.Wait(30000));
        EXPECT_NE(std::string::npos, probe.Output().find("initialize=0 initialized=0 server=0 loaded=0 start=0"))
            << probe.Output();
        EXPECT_TRUE(KelTest::LogFolder(logFolder.Path()).WaitFor(c.logged)) << c.logged;
    }
}

TEST(ProviderWrappers, UnreachableServiceAnswersNoListener) {
    CIpcClientProviderWrapper wrapper;
    ASSERT_TRUE(wrapper.Initialize());
    JsonValue body;
    EXPECT_EQ(IPC_RESULT_NO_LISTENER, wrapper.SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_SETUP_COMMAND, body));
    EXPECT_EQ(IPC_RESULT_NO_LISTENER, wrapper.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, 0x18000022, body));
}
