// KelConsole.exe as a user's session runs it: the real agent, the product's
// service and clients in processes of their own, over the real pipes.

#include <algorithm>
#include "AgentFixture.h"

namespace {

// The mode, class and message of each journal entry.
std::vector<std::string> Traffic(const std::vector<JsonValue>& journal) {
    std::vector<std::string> traffic;
    for (const JsonValue& entry : journal)
        traffic.push_back(entry["mode"].get<std::string>() + " " + std::to_string(entry["class"].get<int>()) + " " +
                          entry["message"].get<std::string>());
    return traffic;
}

} // namespace

TEST_F(Agent, ServesTheSessionOnceAndASecondAgentOnlyShowsTheConsole) {
    ASSERT_TRUE(m_productSettings.SetString(QV_VALUE_ENABLE_KEYSTROKE, L"1"));
    StartService();
    auto agent = StartAgent(L"-S");
    ASSERT_TRUE(WaitServing());
    EXPECT_TRUE(Logged("BHO Console UI thread created"));
    EXPECT_EQ(0, ShownWindows());

    // The setup question comes first, before anything is created. The rest
    // reaches the service over connections of their own (registrations are
    // one-way, posts leave through the client's worker pool), which the
    // service handles on its pool: only their presence is fixed.
    ASSERT_TRUE(WaitUntil([&] { return m_service->Journal().size() >= 9; }));
    std::vector<std::string> traffic = Traffic(m_service->Journal());
    EXPECT_EQ("send 13 0x1f000005", traffic[0]);
    std::vector<std::string> rest(traffic.begin() + 1, traffic.end()), expected = {
        "listen 2 0x00000000", "listen 0 0x00000000", "post 12 0x1e000001", "post 13 0x1f00001f",
        "send 13 0x1f00001c", "post 13 0x1f000011", "post 13 0x1f000017", "post 13 0x1f000028"};
    std::sort(rest.begin(), rest.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, rest);
    EXPECT_TRUE(m_log.Contains("EnableKeystroke = 1"));

    for (const wchar_t* second : {L"-s", L""}) {
        SCOPED_TRACE(KelTest::Narrow(second));
        auto other = StartAgent(second);
        EXPECT_EQ(1u, other->Wait(KelTest::CHILD_START_MS));
    }
    // Only the agent started without "-s" asked for the console.
    EXPECT_TRUE(WaitUntil([] { return ShownWindows() == 1; }));
    EXPECT_EQ(2u, m_log.Count("***** Session agent is already running."));

    EXPECT_EQ(0u, Exit(*agent));
    EXPECT_TRUE(m_log.Contains("CKelConsoleThreadManager::Run: Waiting for all 2 workspace threads to finish."));
}

TEST_F(Agent, RunsTheSetupStepInsteadWhenAskedOrWhenTheServiceSaysSo) {
    KelTest::TempFolder records;
    const std::wstring record = records.Path() + L"launches.txt";
    KelTest::EnvironmentScope recorder(L"KEL_LAUNCH_RECORD", record);
    const std::string setup = KelTest::Narrow(KelTest::ProgramFolder()) + "launch_recorder.exe setup";
    const struct {
        const char* what; bool service; const char* setupCommand; const wchar_t* arguments; bool launched;
        const char* entryPoint;
    } cases[] = {
        {"wizard asked, the service names a setup", true, setup.c_str(), L"/needsetupwizard", true, nullptr},
        {"wizard asked, no setup named", true, "", L"/NEEDSETUPWIZARD", false, nullptr},
        {"the service names a setup, with an entry point", true, setup.c_str(), L"/ZOENTRY:Welcome /zoentry:main", true, "Main"},
        {"silent: the setup is not started", true, setup.c_str(), L"-s", false, nullptr},
        {"the service unreachable", false, "", L"", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileW(record.c_str());
        if (c.service) StartService({{"SetupCommand", c.setupCommand}});
        auto agent = StartAgent(c.arguments);
        EXPECT_EQ(AGENT_EXIT_FAILED, agent->Wait(KelTest::CHILD_START_MS));
        EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
        if (c.launched) {
            ASSERT_TRUE(WaitUntil([&] { return !KelTest::ReadLines(record).empty(); }));
            EXPECT_NE(std::string::npos, KelTest::ReadLines(record)[0].find("launch_recorder.exe setup"));
        } else {
            ::Sleep(500);
            EXPECT_TRUE(KelTest::ReadLines(record).empty());
        }
        if (c.service) {
            const std::vector<JsonValue> journal = m_service->Journal();
            const bool toldEntry = std::any_of(journal.begin(), journal.end(), [&](const JsonValue& e) {
                return e["message"] == "0x1f000025" && c.entryPoint && e["body"]["EntryPoint"] == c.entryPoint;
            });
            EXPECT_EQ(c.entryPoint != nullptr, toldEntry);
            // Nothing but the questions about the setup reached the service.
            for (const JsonValue& e : journal) EXPECT_EQ(13, e["class"].get<int>()) << e.dump();
            m_service->Stop();
        }
    }
}

TEST_F(Agent, EndsOnTheServicesBroadcastAndRestartsSilentlyWhenAsked) {
    StartService();
    for (const uint32_t broadcast : {KEL_BROADCAST_AGENT_EXIT, KEL_BROADCAST_AGENT_RESTART}) {
        SCOPED_TRACE(broadcast);
        auto agent = StartAgent(L"");
        ASSERT_TRUE(WaitServing());
        ASSERT_EQ(0u, m_service->Broadcast(broadcast, nullptr));
        EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
        if (broadcast == KEL_BROADCAST_AGENT_RESTART) {
            // The new agent is silent: no console of its own.
            ASSERT_TRUE(WaitServing());
            EXPECT_EQ(0, ShownWindows());
            EndAnyAgent();
        } else {
            ::Sleep(1000);
            EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
        }
    }
}

TEST_F(Agent, RestartsWhenItsMemoryGrewOnlyOnceThePinProviderSavedItsKey) {
    StartService();
    KelTest::TempFolder backups;
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_MEMORY_CHECK_INTERVAL, 200));
    const struct {
        const char* what; DWORD thresholdMB; DWORD pinState; bool backupPossible; const wchar_t* arguments;
        bool restarts; const char* logged;
    } cases[] = {
        {"watchdog off", 0, 1, true, L"-s", false, nullptr},
        {"a console is shown", 1, 1, true, L"", false, "uiCnt=1 uiPopupCnt=0 dwSBNum=0 dwThreMB=1"},
        {"the key cannot be saved", 1, 2, false, L"-s", false, "SeriousMemoryLeak: Backup golden key failed!"},
        {"the key is saved first", 1, 2, true, L"-s", true, nullptr},
        {"nothing to save", 1, 1, true, L"-s", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, c.thresholdMB));
        ASSERT_TRUE(m_pin.SetDword(L"PinState", c.pinState));
        ASSERT_TRUE(m_pin.SetString(L"GoldenKeyBackupFolder", c.backupPossible ? backups.Path() : L"Q:\\no\\such\\"));
        const std::wstring backup = backups.Path() + L"GoldenKey.bak";
        ::DeleteFileW(backup.c_str());
        const size_t checks = m_log.Count("SeriousMemoryLeak: uiCnt=");
        auto agent = StartAgent(c.arguments);
        ASSERT_TRUE(WaitServing());
        if (c.restarts) {
            EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
            // The new agent must not restart in its turn.
            ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 0));
            EXPECT_TRUE(WaitServing());
            EXPECT_EQ(c.pinState == 2, !KelTest::ReadBytes(backup).empty());
        } else {
            if (c.logged) { EXPECT_TRUE(Logged(c.logged)); } else { ::Sleep(2000); }
            EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), agent->Wait(0));
            // Switched off, the watchdog asks nobody anything.
            if (c.thresholdMB == 0) { EXPECT_EQ(checks, m_log.Count("SeriousMemoryLeak: uiCnt=")); }
            EXPECT_EQ(0u, Exit(*agent));
        }
        EndAnyAgent();
    }
}

namespace {
// The agent's hidden message window, found among the message-only windows.
HWND MessageWindowOf(DWORD processId) {
    for (HWND window = nullptr; (window = ::FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;) {
        DWORD owner = 0;
        wchar_t name[64] = {};
        ::GetWindowThreadProcessId(window, &owner);
        ::GetClassNameW(window, name, 64);
        if (owner == processId && std::wstring(name).rfind(L"KelConsoleMessageWnd", 0) == 0) return window;
    }
    return nullptr;
}
} // namespace

TEST_F(Agent, TellsTheProvidersWhenTheDesktopLeavesTheUsersHands) {
    StartService();
    auto agent = StartAgent(L"-s");
    ASSERT_TRUE(WaitServing());
    const HWND window = MessageWindowOf(agent->Id());
    ASSERT_NE(nullptr, window);
    KelTest::ListenerRecorder locked;
    CIpcClient listener;
    ASSERT_TRUE(listener.Initialize(IPC_SESSION_PIPE));
    ASSERT_EQ(0u, listener.AddMessageListener(ListenerClassOf(KEL_BROADCAST_DESKTOP_LOCKED), locked.Proc(), locked.Context()));
    // The registration travels one way; the agent says when it has it.
    ASSERT_TRUE(Logged("Added remote listener for class 0x1102"));
    const struct {
        const char* what; UINT message; WPARAM event; LRESULT answer; bool reacts; const char* logged;
    } cases[] = {
        {"lock", WM_WTSSESSION_CHANGE, 7, 0, true, "Received WTS_SESSION_LOCK"},
        {"unlock", WM_WTSSESSION_CHANGE, 8, 0, false, "Received WTS_SESSION_UNLOCK"},
        {"remote disconnect", WM_WTSSESSION_CHANGE, 4, 0, false, nullptr},
        {"console disconnect", WM_WTSSESSION_CHANGE, 2, 0, true, "Received WTS_CONSOLE_DISCONNECT"},
        {"console connect", WM_WTSSESSION_CHANGE, 1, 0, false, "Received WTS_CONSOLE_CONNECT"},
        {"query to suspend", WM_POWERBROADCAST, 0, TRUE, false, nullptr},
        {"suspend", WM_POWERBROADCAST, 4, 0, true, nullptr},
    };
    size_t reactions = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD_PTR answer = 0xBAD;
        ASSERT_NE(0, ::SendMessageTimeoutW(window, c.message, c.event, 0, SMTO_NORMAL, 10000, &answer));
        EXPECT_EQ(static_cast<DWORD_PTR>(c.answer), answer);
        if (c.reacts) ++reactions;
        if (c.logged) { EXPECT_TRUE(Logged(c.logged)); }
        // The PIN provider heard it within the sent message; the broadcast follows on its own.
        EXPECT_EQ(reactions, m_log.Count("CPinProvider: PIN invalidated"));
        EXPECT_TRUE(locked.WaitForCalls(reactions));
    }
    ::Sleep(500);
    EXPECT_EQ(reactions, locked.Count(KEL_BROADCAST_DESKTOP_LOCKED));
    EXPECT_EQ(reactions, locked.Calls().size());
    EXPECT_EQ(0u, Exit(*agent));
}

TEST_F(Agent, TellsTheUiThreadBeyondItsTableToCloseAndWaitsForTheOthers) {
    StartService();
    auto agent = StartAgent(L"-s");
    ASSERT_TRUE(WaitServing());
    // The hidden add-on console's thread and the exit event hold two entries of 63.
    ASSERT_TRUE(Logged("Resuming UI thread"));
    std::vector<DWORD> frames;
    for (int i = 0; i < 62; ++i) {
        JsonValue body = {{"Url", "about:blank"}};
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, body));
        frames.push_back(static_cast<DWORD>(KelJson::GetInt(body, "FrameThread")));
    }
    EXPECT_TRUE(Logged("CKelConsoleThreadManager::AddHandle: Maximum number of handles exceeded."));
    EXPECT_EQ(1u, m_log.Count("Maximum number of handles exceeded."));
    QvCommon::UniqueHandle refused(::OpenThread(SYNCHRONIZE, FALSE, frames.back()));
    EXPECT_TRUE(!refused || ::WaitForSingleObject(refused.get(), 10000) == WAIT_OBJECT_0);
    EXPECT_EQ(0u, Exit(*agent));
    EXPECT_TRUE(m_log.Contains("CKelConsoleThreadManager::Run: Waiting for all 62 workspace threads to finish."));
}

// Four kelprobe clients query and post as fast as they can.
TEST_F(Agent, EndsCleanlyWhileOtherProcessesFloodItsPipe) {
    StartService();
    auto agent = StartAgent(L"-s");
    ASSERT_TRUE(WaitServing());
    std::vector<std::unique_ptr<ChildProcess>> flooders;
    for (int i = 0; i < 4; ++i)
        flooders.push_back(std::make_unique<ChildProcess>(L"kelprobe.exe", L"soak " + std::to_wstring(2000 + i) + L" 1000000"));
    EXPECT_TRUE(m_log.WaitFor("GetBalloonStatus - pBrowserWindowInfo/pBrowserTabInfo is NULL.", 10000, 100));
    EXPECT_EQ(0u, Exit(*agent));
    EXPECT_FALSE(m_log.Contains("CIpcServerProviderWrapper::Uninitialize: Calls into the providers did not return"));
}
