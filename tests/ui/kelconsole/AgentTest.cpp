// KelConsole.exe as a user's session runs it: the real agent, the product's
// service and clients in processes of their own, over the real pipes.

#include <algorithm>
#include <map>
#include <atomic>
#include <thread>
#include "AgentDefs.h"
#include "AgentFixture.h"
#include "WorkspaceDefs.h"

namespace {

const char CONSOLE_ASKED[] = "[Enter] CWorkspaceManager::ShowConsoleUI";

// The mode, class and message of each journal entry.
std::vector<std::string> Traffic(const std::vector<JsonValue>& journal) {
    std::vector<std::string> traffic;
    for (const JsonValue& entry : journal)
        traffic.push_back(entry["mode"].get<std::string>() + " " + std::to_string(entry["class"].get<int>()) + " " +
                          entry["message"].get<std::string>());
    return traffic;
}

BOOL CALLBACK AskToClose(HWND window, LPARAM) { return ::PostMessageW(window, WM_CLOSE, 0, 0); }

// Counts the pulses of the agent's state event, from a thread that waits on it.
class StatePulses {
public:
    // A pulse reaches only the threads waiting at that moment, so the thread
    // never leaves its wait but to count one: a wait with a time-out left a
    // gap after every time-out, and under load it missed every pulse once.
    StatePulses() : m_event(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\" KEL_AGENT_STATE_EVENT)),
                    m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread([this] {
        const HANDLE waits[] = {m_stop.get(), m_event.get()};
        while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) ++m_count;
    }) {}
    ~StatePulses() { ::SetEvent(m_stop.get()); m_thread.join(); }
    bool WaitFor(int count) const { return WaitUntil([&] { return m_count == count; }); }
    int Count() const { return m_count; }
private:
    QvCommon::UniqueHandle m_event, m_stop;
    std::atomic<int> m_count{0};
    std::thread m_thread;
};

} // namespace

TEST_F(Agent, StartsSilentlyAndASecondAgentOnlyAsksForTheConsole) {
    ASSERT_TRUE(m_productSettings.SetString(QV_VALUE_ENABLE_KEYSTROKE, L"1"));
    StartService();
    auto agent = StartAgent(L"-S");
    ASSERT_TRUE(WaitServing());
    EXPECT_TRUE(Logged("BHO Console UI thread created"));

    // The setup question comes before anything is made. Registrations and posts
    // reach the service over connections of their own and are handled on its
    // pool: a later send can be journaled before them (seen: the driver query
    // before a registration), so the rest is compared as a set.
    ASSERT_TRUE(WaitUntil([&] { return m_service->Journal().size() >= 9; }));
    const std::vector<JsonValue> journal = m_service->Journal();
    const std::vector<std::string> traffic = Traffic(journal);
    EXPECT_EQ("send 13 0x1f000005", traffic[0]);
    const std::vector<std::string> expected = {"send 13 0x1f000005", "listen 2 0x00000000", "listen 0 0x00000000",
                                         "post 12 0x1e000001", "post 13 0x1f00001f", "send 13 0x1f00001c",
                                         "post 13 0x1f000011", "post 13 0x1f000017", "post 13 0x1f000028"};
    EXPECT_TRUE(std::is_permutation(expected.begin(), expected.end(), traffic.begin(), traffic.end()))
        << ::testing::PrintToString(traffic);
    const std::map<std::string, JsonValue> bodies = {{"0x1e000001", {{"RefreshIESettings", true}}},
                                                     {"0x1f00001c", {{"IsETDExistAndNotUpToDate", false}}},
                                                     {"0x1f000028", {{"PinDriverEnable", true}}}};
    for (const JsonValue& entry : journal)
        if (bodies.count(entry["message"])) { EXPECT_EQ(bodies.at(entry["message"]), entry["body"]) << entry.dump(); }
    // The PIN provider lives in the agent: what it is told is in the agent's log, in order.
    const std::string log = m_log.Text();
    const size_t started = log.find("CPinProvider::MessageProc: 0x1100007c null"),
                 keystroke = log.find("CPinProvider::MessageProc: 0x1100002c null"),
                 driver = log.find("CPinProvider::MessageProc: 0x1100004e {\"PinDriverEnable\":true}");
    EXPECT_TRUE(started < keystroke && keystroke < driver && driver != std::string::npos) << log;

    for (const wchar_t* second : {L"-s", L""}) EXPECT_EQ(1u, StartAgent(second)->Wait(KelTest::CHILD_START_MS));
    EXPECT_TRUE(WaitUntil([] { return ShownWindows() == 1; }));
    EXPECT_EQ(2u, m_log.Count("***** Session agent is already running."));
    EXPECT_EQ(0u, Exit(*agent));
    EXPECT_TRUE(m_log.Contains("CKelConsoleThreadManager::Run: Waiting for all 2 workspace threads to finish."));
    // Only the agent started without "-s" asked, once: not the first, not the silent second.
    EXPECT_EQ(1u, m_log.Count(CONSOLE_ASKED));
}

TEST_F(Agent, HoldsTheStateMutexWhileItStartsAndStopsAndPulsesTheStateEvent) {
    StartService();
    StatePulses pulses;
    QvCommon::UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, L"Local\\" KEL_AGENT_STATE_MUTEX));
    ASSERT_TRUE(mutex);
    auto agent = StartAgent(L"-s");
    ASSERT_TRUE(WaitUntil([&] { return !m_service->Journal().empty(); }, KelTest::CHILD_START_MS));
    EXPECT_FALSE(WaitUntil([] { return CIpcServerProviderWrapper::IsSessionAgentRunning(); }, 2000));
    ASSERT_TRUE(::ReleaseMutex(mutex.get()));
    ASSERT_TRUE(WaitServing());
    // Once the server is up, once the workspace is.
    EXPECT_TRUE(pulses.WaitFor(2));

    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(mutex.get(), 10000));
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM));
    // The stop is told first (class 2 is the service's: a listener to it in
    // another process is registered with the service, so only the agent's
    // own listeners hear it); the server stops only under the mutex.
    EXPECT_TRUE(Logged("MessageBroker::BroadcastMessageToListeners: MessageId = 0x00020002"));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), agent->Wait(1000));
    EXPECT_TRUE(CIpcServerProviderWrapper::IsSessionAgentRunning());
    EXPECT_EQ(2, pulses.Count());
    ASSERT_TRUE(::ReleaseMutex(mutex.get()));
    EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
    EXPECT_TRUE(pulses.WaitFor(3));
}

// The state objects' names taken by objects of another kind: the agent asks
// and starts nothing. An agent that died holding the mutex left it abandoned:
// the next one runs without its providers, and every question to them fails.
TEST_F(Agent, StateObjectsThatCannotBeMadeOrWereAbandoned) {
    StartService();
    for (const bool eventNameTaken : {true, false}) {
        QvCommon::UniqueHandle impostor(eventNameTaken ? ::CreateMutexW(nullptr, FALSE, L"Local\\" KEL_AGENT_STATE_EVENT)
                                                       : ::CreateEventW(nullptr, TRUE, FALSE, L"Local\\" KEL_AGENT_STATE_MUTEX));
        EXPECT_EQ(static_cast<DWORD>(KEL_EXIT_FAILED), StartAgent(L"")->Wait(KelTest::CHILD_START_MS));
    }
    EXPECT_EQ(2u, m_log.Count("Failed to create state synchronization objects: 0x00000006"));
    EXPECT_TRUE(m_service->Journal().empty());

    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_MEMORY_CHECK_INTERVAL, 200));
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 1));
    QvCommon::UniqueHandle mutex;
    std::thread([&] { mutex.reset(::CreateMutexW(nullptr, TRUE, L"Local\\" KEL_AGENT_STATE_MUTEX)); }).join();
    auto agent = StartAgent(L"-s");
    EXPECT_TRUE(Logged("The agent state mutex was not acquired: 128"));
    EXPECT_TRUE(Logged("Get activated window number failed, res=[0x10000005] hr=[0x00000000]"));
    EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
}

TEST_F(Agent, RunsTheSetupStepInsteadWhenAskedOrWhenTheServiceSaysSo) {
    KelTest::LaunchRecord record;
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
        record.Clear();
        if (c.service) StartService({{"SetupCommand", c.setupCommand}});
        EXPECT_EQ(static_cast<DWORD>(KEL_EXIT_FAILED), StartAgent(c.arguments)->Wait(KelTest::CHILD_START_MS));
        EXPECT_FALSE(CIpcServerProviderWrapper::IsSessionAgentRunning());
        // A setup is started before the agent ends; once no recorder runs, its line is written.
        ASSERT_TRUE(WaitUntil([] { return KelTest::ProcessesNamed(L"launch_recorder.exe").empty(); }, 30000));
        EXPECT_EQ(c.launched ? 1u : 0u, record.Lines().size());
        if (c.launched) { EXPECT_NE(std::string::npos, record.Lines()[0].find("launch_recorder.exe setup")); }
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

// A restart is started before the agent ends: once it has ended, any new
// agent process is already there.
TEST_F(Agent, EndsOnTheServicesBroadcastAndRestartsSilentlyWhenAsked) {
    StartService();
    for (const uint32_t broadcast : {KEL_BROADCAST_AGENT_EXIT, KEL_BROADCAST_AGENT_RESTART}) {
        SCOPED_TRACE(broadcast);
        const size_t asked = m_log.Count(CONSOLE_ASKED);
        auto agent = StartAgent(L"");
        ASSERT_TRUE(WaitServing());
        ASSERT_EQ(0u, m_service->Broadcast(broadcast, nullptr));
        EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
        const std::vector<DWORD> restarted = KelTest::ProcessesNamed(L"KelConsole.exe");
        ASSERT_EQ(broadcast == KEL_BROADCAST_AGENT_RESTART ? 1u : 0u, restarted.size());
        if (restarted.empty()) continue;
        ASSERT_TRUE(WaitServing());
        EndAnyAgent();
        ASSERT_TRUE(WaitUntil([] { return KelTest::ProcessesNamed(L"KelConsole.exe").empty(); }, 30000));
        // Only the first agent asked for its console; the restarted one is silent.
        EXPECT_EQ(asked + 1, m_log.Count(CONSOLE_ASKED));
    }
}

TEST_F(Agent, RestartsForItsMemoryOnlyOnceThePinProviderSavedItsKey) {
    KelTest::TempFolder backups;
    const std::wstring backup = backups.Path() + L"GoldenKey.bak";
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_MEMORY_CHECK_INTERVAL, 200));
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 1));
    StartService();
    const struct { const char* what; DWORD pinState; bool backupPossible; const char* logged; } cases[] = {
        {"the key is saved first", 2, true, nullptr},
        {"the key cannot be saved", 2, false, "SeriousMemoryLeak: Backup golden key failed! [0x10000001]"},
        {"the PIN state cannot be read", 7, true, "SeriousMemoryLeak: Get pin status failed [0x10000001]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_pin.SetDword(L"PinState", c.pinState));
        ASSERT_TRUE(m_pin.SetString(L"GoldenKeyBackupFolder", c.backupPossible ? backups.Path() : L"Q:\\no\\such\\"));
        auto agent = StartAgent(L"-s");
        if (c.logged) {
            EXPECT_TRUE(Logged(c.logged));
            EXPECT_EQ(0u, Exit(*agent));
            continue;
        }
        EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
        // The new agent must not restart in its turn.
        ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 0));
        EXPECT_TRUE(WaitServing());
        EXPECT_FALSE(KelTest::ReadBytes(backup).empty());
        EndAnyAgent();
        ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 1));
    }
}

// One agent: the threshold is read at each check, so one run walks through
// what holds a restart off, and ends in a restart that the service turns into
// its setup.
TEST_F(Agent, NoRestartWhileAWindowIsShownAndTheSetupTakesItsPlaceWhenNamed) {
    KelTest::LaunchRecord record;
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_MEMORY_CHECK_INTERVAL, 200));
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 0));
    StartService();
    auto agent = StartAgent(L"-s");
    ASSERT_TRUE(WaitServing());
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI));
    ASSERT_TRUE(WaitUntil([] { return ShownWindows() == 1; }));
    ::Sleep(1000);   // five checks' time: switched off, the watchdog asks nobody anything
    EXPECT_EQ(0u, m_log.Count("SeriousMemoryLeak: uiCnt="));
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 1));
    EXPECT_TRUE(Logged("uiCnt=1 uiPopupCnt=0 dwSBNum=0 dwThreMB=1"));

    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 0));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_HIDE_CONSOLE_UI));
    JsonValue browser = {{"Url", "about:blank"}};
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, browser));
    ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 1));
    EXPECT_TRUE(Logged("uiCnt=0 uiPopupCnt=1 dwSBNum=1 dwThreMB=1"));

    m_service->Stop();
    const std::string setup = KelTest::Narrow(KelTest::ProgramFolder()) + "launch_recorder.exe setup";
    StartService({{"SetupCommand", setup}});
    ::EnumThreadWindows(static_cast<DWORD>(KelJson::GetInt(browser, WORKSPACE_KEY_FRAME_THREAD)), AskToClose, 0);
    EXPECT_EQ(0u, agent->Wait(KelTest::CHILD_START_MS));
    EXPECT_TRUE(KelTest::ProcessesNamed(L"KelConsole.exe").empty()) << "restarted";
    ASSERT_EQ(1u, record.WaitForLines().size());
    EXPECT_NE(std::string::npos, record.Lines()[0].find("launch_recorder.exe setup"));
    // Nothing to save at PIN state 1.
    EXPECT_TRUE(m_log.Contains("CPinProvider::MessageProc: 0x11000009"));
    EXPECT_FALSE(m_log.Contains("CPinProvider::MessageProc: 0x1100007b"));
}

TEST(MemoryWatchdog, RestartsOnlyAboveTheThresholdInWholeMegabytes) {
    const SIZE_T MB = 1 << 20;
    EXPECT_FALSE(WorkingSetAbove(350 * MB, 350));
    EXPECT_FALSE(WorkingSetAbove(351 * MB - 1, 350));
    EXPECT_TRUE(WorkingSetAbove(351 * MB, 350));
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
    EXPECT_EQ(0u, Exit(*agent));
    // Once the agent has ended, no broadcast of it can come any more.
    EXPECT_EQ(reactions, locked.Count(KEL_BROADCAST_DESKTOP_LOCKED));
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
        frames.push_back(static_cast<DWORD>(KelJson::GetInt(body, WORKSPACE_KEY_FRAME_THREAD)));
    }
    EXPECT_TRUE(Logged("CKelConsoleThreadManager::AddHandle: Maximum number of handles exceeded."));
    EXPECT_EQ(1u, m_log.Count("Maximum number of handles exceeded."));
    // The last frame was resumed, refused a place, told to close, and ended.
    EXPECT_TRUE(Logged("Resuming UI thread " + std::to_string(frames.back())));
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<DWORD> threads = KelTest::ThreadsOf(agent->Id());
        return std::find(threads.begin(), threads.end(), frames.back()) == threads.end();
    }));
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
    EXPECT_TRUE(m_log.Contains("CKelConsoleThreadManager::Run: Exiting program."));
    EXPECT_FALSE(m_log.Contains("CIpcServerProviderWrapper::Uninitialize: Calls into the providers did not return"));
}
