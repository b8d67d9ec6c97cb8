#include <gtest/gtest.h>

#include "EchoAnswer.h"
#include "IpcPeer.h"
#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What an in-process listening peer received, and how it answers.
struct Recorder {
    std::mutex lock;
    std::vector<uint32_t> requestSizes;   // payload bytes of each request
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    DWORD requestSleepMs = 0;
    DWORD querySleepMs = 0;
};

uint32_t RecordAndEcho(CIpcCommand& command, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    if (command.GetCommandType() == OIPC_REQUEST) {
        int now = ++recorder->running;
        int seen = recorder->maxRunning;
        while (now > seen && !recorder->maxRunning.compare_exchange_weak(seen, now)) {}
        ::Sleep(recorder->requestSleepMs);
        --recorder->running;
        std::lock_guard<std::mutex> guard(recorder->lock);
        recorder->requestSizes.push_back(command.GetPayloadSize());
    } else if (command.GetCommandType() == OIPC_QUERY) {
        ::Sleep(recorder->querySleepMs);
        AnswerWithEcho(command);
    }
    return 0;
}

class ListeningPeer {
public:
    explicit ListeningPeer(Recorder& recorder) : m_name(KelTest::UniqueName(L"kelpeer")) {
        m_peer.SetPipeName(m_name);
        m_peer.SetCallback(&RecordAndEcho, &recorder);
    }
    uint32_t Start() { return m_peer.ReceiveStart(); }
    CIpcPeer& Peer() { return m_peer; }
    const std::wstring& Name() const { return m_name; }
private:
    std::wstring m_name;
    CIpcPeer m_peer;
};

std::wstring Body() { return L"{\"ping\":\"" + std::wstring(50, L'x') + L"\"}"; }

// Asks a peer on the pipe and checks that the echo comes back.
void ExpectEchoFrom(const std::wstring& pipe, DWORD timeoutMs = IPC_QUERY_TIMEOUT_MS) {
    CIpcPeer sender(timeoutMs);
    sender.SetPipeName(pipe);
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({6, 0x18000005});
    query.PutPayloadData(Body());
    ASSERT_EQ(0u, sender.Send(query));
    EXPECT_EQ(OIPC_RESULT, query.GetCommandType());
    EXPECT_EQ(ECHO_RESULT_CODE, query.GetReturnValue());
    EXPECT_EQ(6u, query.GetClassId());
    EXPECT_EQ(0x18000005u, query.GetMessageId());
    std::wstring reply;
    query.GetPayloadData(reply);
    EXPECT_EQ(Body(), reply);
}

std::vector<BYTE> Bytes(const CIpcCommand& command) {
    std::vector<BYTE> bytes(command.GetSerializedSize());
    uint32_t capacity = static_cast<uint32_t>(bytes.size());
    command.Serialize(bytes.data(), capacity);
    return bytes;
}

void WriteRaw(const std::wstring& pipe, const std::vector<BYTE>& bytes) {
    CPipeClient client;
    ASSERT_TRUE(client.Initial(pipe.c_str()));
    DWORD size = static_cast<DWORD>(bytes.size());
    if (size) {
        ASSERT_TRUE(client.Send(bytes.data(), &size));
    }
}

} // namespace

TEST(IpcPeer, QueryIsAnsweredByAPeerInAnotherProcess) {
    std::wstring pipe = KelTest::UniqueName(L"kelhelper");
    std::wstring ready = KelTest::UniqueName(L"ready"), quit = KelTest::UniqueName(L"quit");
    QvCommon::UniqueHandle quitEvent(::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + quit).c_str()));
    KelTest::ChildProcess helper(L"ipc_peer_helper.exe", L"listen " + pipe + L" " + ready + L" " + quit);
    ASSERT_TRUE(helper.Started());
    ASSERT_TRUE(KelTest::WaitForNamedEvent(ready, 30000));
    ExpectEchoFrom(pipe);
    ExpectEchoFrom(pipe);   // the listener goes on serving
    ::SetEvent(quitEvent.get());
    EXPECT_EQ(0u, helper.Wait(30000));
}

TEST(IpcPeer, SecondProcessCannotListenOnTheSameName) {
    Recorder recorder;
    ListeningPeer first(recorder);
    ASSERT_EQ(0u, first.Start());
    std::wstring ready = KelTest::UniqueName(L"ready"), quit = KelTest::UniqueName(L"quit");
    KelTest::ChildProcess helper(L"ipc_peer_helper.exe",
                                 L"listen " + first.Name() + L" " + ready + L" " + quit);
    ASSERT_TRUE(helper.Started());
    EXPECT_EQ(IPC_RESULT_NOT_CREATED, helper.Wait(30000));   // its stop event exists already
    ExpectEchoFrom(first.Name());   // the first listener is unharmed
}

TEST(IpcPeer, QueryToMissingPipeFailsAtOnceAsAResult) {
    CIpcPeer sender;
    sender.SetPipeName(KelTest::UniqueName(L"nobody"));
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({13, 0x1F000005});
    query.PutPayloadData(L"null");
    auto start = Clock::now();
    EXPECT_EQ(IPC_RESULT_NO_LISTENER, sender.Send(query));
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_EQ(OIPC_RESULT, query.GetCommandType());
    EXPECT_EQ(IPC_RESULT_NO_LISTENER, query.GetStatus());
    EXPECT_EQ(13u, query.GetClassId());
    EXPECT_EQ(0x1F000005u, query.GetMessageId());
    EXPECT_EQ(0u, query.GetPayloadSize());
}

TEST(IpcPeer, UnansweredQueryEndsByTheWatchdog) {
    Recorder recorder;
    recorder.querySleepMs = 1500;   // answers after the asker gave up
    ListeningPeer listener(recorder);
    ASSERT_EQ(0u, listener.Start());
    CIpcPeer sender(400);
    sender.SetPipeName(listener.Name());
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({3, 0x11000009});
    query.PutPayloadData(L"{\"PinState\":0}");
    auto start = Clock::now();
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, sender.Send(query));
    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 350);
    EXPECT_LT(elapsed, 1400);
    EXPECT_EQ(OIPC_RESULT, query.GetCommandType());
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, query.GetStatus());
    EXPECT_EQ(0x11000009u, query.GetMessageId());
}

TEST(IpcPeer, RequestToMissingPipeIsQueuedAndTheWorkerLogsTheError) {
    KelTest::CapturedLog log;
    {
        CIpcPeer sender;
        sender.SetPipeName(KelTest::UniqueName(L"nobody"));
        CIpcCommand request;
        request.SetCommandType(OIPC_REQUEST);
        request.SetIpcInfo({6, 0x18000008});
        EXPECT_EQ(0u, sender.Send(request));
        EXPECT_TRUE(log.WaitFor("CIpcPeer::CommandQueueCallback: Failed to send IPC request: 0x00000002"));
    }
}

TEST(IpcPeer, ResultArrivingOnAListeningPeerEndsItsLoop) {
    Recorder recorder;
    ListeningPeer listener(recorder);
    ASSERT_EQ(0u, listener.Start());
    CIpcCommand result;
    result.SetCommandType(OIPC_RESULT);
    WriteRaw(listener.Name(), Bytes(result));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
              ::WaitForSingleObject(listener.Peer().GetAcceptThread(), 5000));
    EXPECT_EQ(IPC_RESULT_ALREADY_STARTED, listener.Start());   // stopped only by ReceiveStop
    EXPECT_EQ(0u, listener.Peer().ReceiveStop());
    EXPECT_EQ(0u, listener.Start());
}

TEST(IpcPeer, FiveRequestsRunAtOnceAndTheSixthWaits) {
    Recorder recorder;
    recorder.requestSleepMs = 700;
    ListeningPeer listener(recorder);
    ASSERT_EQ(0u, listener.Start());
    CIpcPeer sender;
    sender.SetPipeName(listener.Name());
    for (int i = 0; i < 6; ++i) {
        CIpcCommand request;
        request.SetCommandType(OIPC_REQUEST);
        request.SetIpcInfo({6, 0x18000019});
        request.PutPayloadData(L"{}");
        ASSERT_EQ(0u, sender.Send(request));
    }
    for (int i = 0; i < 300; ++i) {
        std::lock_guard<std::mutex> guard(recorder.lock);
        if (recorder.requestSizes.size() == 6) break;
        ::Sleep(10);
    }
    std::lock_guard<std::mutex> guard(recorder.lock);
    EXPECT_EQ(6u, recorder.requestSizes.size());
    EXPECT_EQ(5, recorder.maxRunning.load());
}

TEST(IpcPeer, ReceiveStopOnANeverStartedPeerReturnsAtOnce) {
    CIpcPeer peer;
    auto start = Clock::now();
    EXPECT_EQ(0u, peer.ReceiveStop());
    EXPECT_LT(MillisecondsSince(start), 100);
    EXPECT_EQ(IPC_RESULT_NO_PIPE_NAME, peer.ReceiveStart());
}

TEST(IpcPeer, BadInputIsDroppedAndThePeerKeepsServing) {
    KelTest::CapturedLog log;
    Recorder recorder;
    ListeningPeer listener(recorder);
    ASSERT_EQ(0u, listener.Start());

    CIpcCommand request;
    request.SetCommandType(OIPC_REQUEST);
    request.SetIpcInfo({6, 0x18000019});
    request.PutPayloadData(L"{\"a\":1}");
    const std::vector<BYTE> good = Bytes(request);

    std::vector<BYTE> tooShort(good.begin(), good.begin() + 20);
    std::vector<BYTE> wrongMark = good;
    wrongMark[0] = 57;
    std::vector<BYTE> sizeMismatch = good;
    sizeMismatch.resize(good.size() - 2);
    std::vector<BYTE> oddPayload = good;
    oddPayload[32] = 7;   // the payload size word
    oddPayload.resize(56 + 7);
    std::vector<BYTE> unknownType = good;
    unknownType[4] = 9;

    CIpcCommand big;
    big.SetCommandType(OIPC_REQUEST);
    big.SetIpcInfo({6, 0x18000019});
    big.PutPayloadData(std::wstring((600000 - 56) / 2, L'b'));
    const std::vector<BYTE> bigBytes = Bytes(big);

    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        const char* logged;        // a line the peer must write, or null
        int delivered;             // payload size the callback must see, or -1
    } cases[] = {
        {"shorter than a header", tooShort, "IPC data dropped: invalid header size (56, 56)", -1},
        {"first word 57", wrongMark, "IPC data dropped: invalid header size (56, 57)", -1},
        {"payload size mismatch", sizeMismatch, "Data size mismatch (header: 14, data: 12)", -1},
        {"odd payload length", oddPayload, nullptr, 7},
        {"unknown command type", unknownType, "Unknown IPC command type: 9", -1},
        {"connect and close without writing", {}, nullptr, -1},
        {"600,000-byte message", bigBytes, nullptr, 600000 - 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard<std::mutex> guard(recorder.lock);
            recorder.requestSizes.clear();
        }
        WriteRaw(listener.Name(), c.bytes);
        ExpectEchoFrom(listener.Name());   // the peer goes on serving the next writer
        if (c.logged) {
            EXPECT_TRUE(log.WaitFor(c.logged)) << c.logged;
        }
        if (c.delivered >= 0) {
            for (int i = 0; i < 200; ++i) {
                std::lock_guard<std::mutex> guard(recorder.lock);
                if (!recorder.requestSizes.empty()) break;
                ::Sleep(10);
            }
            std::lock_guard<std::mutex> guard(recorder.lock);
            ASSERT_EQ(1u, recorder.requestSizes.size());
            EXPECT_EQ(static_cast<uint32_t>(c.delivered), recorder.requestSizes[0]);
        }
    }
}
