// The agent, started as a session starts it, against what any process of the
// session may send: kelprobe's campaign of bad input, then a soak of
// kelprobe clients while kelctl counts the broadcasts. KEL_RELIABILITY_LONG=1
// runs the long versions.
#include "AgentFixture.h"

#include <psapi.h>
#include <cstdio>
#include <cstdlib>
#include "FrameManager.h"

namespace {

constexpr DWORD PROBE_LIMIT_MS = 600000, LONG_PROBE_LIMIT_MS = 3 * 3600000;

bool LongRun() {
    const char* value = std::getenv("KEL_RELIABILITY_LONG");
    return value && std::string(value) == "1";
}

// What Wine reports of another process: Toolhelp's threads and the working
// set of GetProcessMemoryInfo (GetProcessHandleCount answers 0 there).
std::string FiguresOf(DWORD processId) {
    QvCommon::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_MEMORY_COUNTERS memory = {};
    if (process) ::GetProcessMemoryInfo(process.get(), &memory, sizeof(memory));
    return std::to_string(KelTest::ThreadsOf(processId).size()) + " threads, working set " +
           std::to_string(memory.WorkingSetSize / 1024) + " KiB";
}

class HostileInput : public Agent {
protected:
    void SetUp() override {
        Agent::SetUp();
        // A restart by the memory watchdog is not what these tests watch.
        ASSERT_TRUE(m_agentSettings.SetDword(QV_VALUE_WORKING_SET_MB, 4000));
        StartService();
        m_agent = StartAgent(L"-s");
        ASSERT_TRUE(WaitServing());
        // The hidden add-on console's thread is part of the start.
        ASSERT_TRUE(Logged("Resuming UI thread"));
        m_before = FiguresOf(m_agent->Id());
        m_threadsBefore = KelTest::ThreadsOf(m_agent->Id()).size();
    }
    void Report(const char* what) {
        std::printf("%s: %s before, %s after\n", what, m_before.c_str(), FiguresOf(m_agent->Id()).c_str());
        EXPECT_TRUE(m_agent->Running()) << "the agent ended";
    }
    std::unique_ptr<ChildProcess> m_agent;
    std::string m_before;
    size_t m_threadsBefore = 0;
};

} // namespace

TEST_F(HostileInput, BadRecordsAndBodiesLeaveTheAgentServing) {
    ChildProcess probe(L"kelprobe.exe", LongRun() ? L"campaign --long" : L"campaign", KelTest::ChildOptions().Capture());
    EXPECT_EQ(0u, probe.Wait(LongRun() ? LONG_PROBE_LIMIT_MS : PROBE_LIMIT_MS));
    std::printf("%s", probe.Output().c_str());
    Report("campaign");
    for (const char* refused : {"IPC data dropped: invalid header size", "Unknown IPC command type",
                                "Refused a body nested deeper than 256 levels", "listening on QVIPCCERULEANSESSION again."})
        EXPECT_TRUE(m_log.Contains(refused)) << refused;
}

// 10,000 queries and 9,600 posts in all, and 400 broadcasts; the frames of the
// clients' pop-ups close with their windows' records.
TEST_F(HostileInput, ASoakOfClientsAndAListenerLosesNothing) {
    const int clients = 8, perClient = (LongRun() ? 100000 : 10000) / clients;
    const int broadcasts = clients * (perClient / 50) * 2;
    ChildProcess listener(L"kelctl.exe", L"listen --session 0x1802 --count " + std::to_wstring(broadcasts) + L" --timeout 900",
                          KelTest::ChildOptions().Capture());
    ASSERT_TRUE(WaitUntil([&] { return listener.Output().find("listening") != std::string::npos; }, KelTest::CHILD_START_MS));
    KelTest::Stopwatch watch;
    std::vector<std::unique_ptr<ChildProcess>> soak;
    for (int c = 0; c < clients; ++c)
        soak.push_back(std::make_unique<ChildProcess>(
            L"kelprobe.exe", L"soak " + std::to_wstring(1000 + c) + L" " + std::to_wstring(perClient),
            KelTest::ChildOptions().Capture()));
    for (auto& client : soak) EXPECT_EQ(0u, client->Wait(LongRun() ? LONG_PROBE_LIMIT_MS : PROBE_LIMIT_MS)) << client->Output();
    std::printf("soak: %d clients, %d queries each, in %lld ms\n", clients, perClient, static_cast<long long>(watch.ElapsedMs()));
    EXPECT_EQ(0u, listener.Wait(KelTest::CHILD_START_MS)) << listener.Output().substr(0, 2000);
    EXPECT_TRUE(WaitUntil([&] { return KelTest::ThreadsOf(m_agent->Id()).size() <= m_threadsBefore; }));
    Report("soak");
}

// Another process of the desktop tells every thread of the agent that one of
// its own threads is a new frame: the agent does not take it, and so does not
// wait for it when it ends.
TEST_F(HostileInput, AThreadMessageCannotMakeTheAgentAdoptAStranger) {
    for (DWORD thread : KelTest::ThreadsOf(m_agent->Id()))
        ::PostThreadMessageW(thread, FRAME_NOTIFY_MESSAGE, FRAME_KIND_UI, ::GetCurrentThreadId());
    EXPECT_TRUE(Logged("is not a frame of this agent; not adopted."));
    EXPECT_EQ(0u, Exit(*m_agent));
}
