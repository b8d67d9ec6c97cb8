#include <gtest/gtest.h>

#include "IpcClassFactory.h"
#include "IpcDefs.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "TestSupport.h"

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
    KelTest::ListenerRecorder session, system;   // outlive the wrapper
    CIpcClientProviderWrapper wrapper;
    ASSERT_TRUE(wrapper.Initialize());
    // Both registrations stay local to this process's clients; their advises
    // find no server, which does not matter here.
    ASSERT_EQ(0u, wrapper.AddMessageListener(0x0002, system.Proc(), &system));
    ASSERT_EQ(0u, wrapper.AddMessageListener(0x1102, session.Proc(), &session));
    EXPECT_EQ(0u, wrapper.BroadcastMessageToListeners(KEL_BROADCAST_DESKTOP_LOCKED, JsonValue()));
    ASSERT_TRUE(session.WaitForCalls(1));

    // The session client fails; the system client still hears, and answers.
    CIpcClient* sessionClient = IpcClassFactory::Instance().CreateClient(false);
    sessionClient->Uninitialize();
    EXPECT_EQ(0u, wrapper.BroadcastMessageToListeners(KEL_BROADCAST_AGENT_STOPPING, JsonValue()));
    ASSERT_TRUE(system.WaitForCalls(1));
    EXPECT_TRUE(log.WaitFor("BroadcastMessageToListeners: session pipe failed: 0x10000005"));
    IpcClassFactory::Instance().ReleaseClient(sessionClient);
}

// The library is looked up beside the program first (a relative ".\" path
// goes through the loader's search order, as on Windows), so each case runs a
// probe that lies in a folder of its own beside a broken library (a folder
// without any library takes the same way as one without the entry point).
TEST(ProviderWrappers, BrokenProviderLibrariesLeaveNothingLoaded) {
    struct Case { const wchar_t* folder; const char* logged; } cases[] = {
        {L"providers_init_fails", "CIpcServerProviderWrapper::Initialize: InitializeProviders() failed: 0x10000001"},
        {L"providers_no_query", "CIpcServerProviderWrapper::Initialize: Failed to load ProviderManager."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(KelTest::Narrow(c.folder));
        KelTest::TempFolder logFolder;
        KelTest::ChildProcess probe(std::wstring(c.folder) + L"\\wrapper_probe.exe", logFolder.Path(),
                                    KelTest::ChildOptions().Capture());
        ASSERT_EQ(0u, probe.Wait(KelTest::CHILD_START_MS));
        EXPECT_NE(std::string::npos, probe.Output().find("initialize=0 initialized=0 server=0 loaded=0 start=0"))
            << probe.Output();
        EXPECT_TRUE(KelTest::LogFolder(logFolder.Path()).WaitFor(c.logged)) << c.logged;
    }
}

// Uninitialize while another process floods the session pipe: the server's
// workers still hold queries and posts when the providers go. None of them
// may reach the library's controller any more (the process would crash), and
// every query that is answered carries 0 or 0x10000005.
TEST(ProviderWrappers, UninitializeWhileAnotherProcessFloodsThePipe) {
    CIpcServerProviderWrapper wrapper;
    ASSERT_TRUE(wrapper.Initialize() && wrapper.PostInitialize() && wrapper.Start());
    KelTest::NamedEvent answering(KelTest::UniqueName(L"flood"));
    KelTest::ChildProcess flood(L"ipc_helper.exe", L"flood " IPC_SESSION_PIPE L" " + answering.Name(),
                                KelTest::ChildOptions().Capture());
    ASSERT_TRUE(flood.WaitReady(answering));
    ::Sleep(300);   // a backlog builds up in the server's pool
    wrapper.Uninitialize();
    EXPECT_FALSE(wrapper.IsInitialized());
    EXPECT_EQ(0u, flood.Wait(KelTest::CHILD_START_MS)) << flood.Output();   // no invalid answer
}
