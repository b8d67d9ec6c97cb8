#include <gtest/gtest.h>

#include "IpcServer.h"
#include "TestProcesses.h"

namespace {

// The far end of the peer's sends: a server in this process on a pipe of its
// own, in front of a TestController.
struct LocalServer {
    LocalServer() { EXPECT_EQ(0u, server.Initialize(&controller, name)); }
    size_t Posts() { return controller.State()["posts"].size(); }
    const std::wstring name = KelTest::UniqueName(L"kelpeer");
    TestController controller;
    CIpcServer server;
};

std::vector<BYTE> Bytes(uint32_t type, const std::wstring& body) {
    CIpcCommand command;
    return Fill(command, type, 6, 0x18000019, body).Serialized();
}

// Asks the server on the pipe; true when its answer came back.
bool Answers(const std::wstring& pipe) {
    CIpcPeer sender;
    sender.SetPipeName(pipe);
    CIpcCommand query;
    return sender.Send(Fill(query, OIPC_QUERY, 6, 0x18000005, L"{\"code\":119}")) == 0 &&
           query.GetReturnValue() == 0x77u && PayloadOf(query) == L"{\"ok\":1}";
}

} // namespace

// What Send gives back for each kind of destination. A query always comes
// back as a result record with its class and message ids. A query that the
// listener leaves as it came (the server does so with a body that is not
// JSON) goes back to the asker still a query: the asker does not answer it,
// or it would bounce between the two ends, and waits for its watchdog. Every
// send is over long before the product's 30-second watchdog.
TEST(IpcPeer, SendOutcomes) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    LocalServer listener;
    ASSERT_EQ(0u, listener.server.Start());
    const std::wstring missing = KelTest::UniqueName(L"nobody");
    KelTest::NamedEvent hold(KelTest::UniqueName(L"kelhold"));   // the provider answers only once it is set
    const struct Case {
        const char* what; const std::wstring& pipe; uint32_t type; std::wstring body; DWORD queryTimeoutMs;
        uint32_t code; double minMs; const char* logged;
    } cases[] = {
        {"query answered", listener.name, OIPC_QUERY, L"{\"code\":119}", IPC_QUERY_TIMEOUT_MS, 0, 0, nullptr},
        {"query to a missing pipe fails at once", missing, OIPC_QUERY, L"{}", IPC_QUERY_TIMEOUT_MS,
         IPC_RESULT_NO_LISTENER, 0, nullptr},
        // Before the late answer below fails to find its asker, with the same line.
        {"request to a missing pipe is queued; the worker logs the error", missing, OIPC_REQUEST, L"{}",
         IPC_QUERY_TIMEOUT_MS, 0, 0, "CIpcPeer::CommandQueueCallback: Failed to send IPC request: 0x00000002"},
        {"unanswered query ends by the watchdog", listener.name, OIPC_QUERY, L"{\"hold\":\"" + hold.Name() + L"\"}",
         400, IPC_RESULT_QUERY_TIMED_OUT, 350, "ReceiveEventMonitor: Event timed out"},
        {"query left as it came comes back and is not answered", listener.name, OIPC_QUERY, L"not json", 400,
         IPC_RESULT_QUERY_TIMED_OUT, 350, "CIpcPeer::RunCallback: No callback function assigned."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcPeer sender(c.queryTimeoutMs);
        sender.SetPipeName(c.pipe);
        CIpcCommand command;
        KelTest::Stopwatch watch;
        EXPECT_EQ(c.code, sender.Send(Fill(command, c.type, 13, 0x1F000005, c.body)));
        EXPECT_GE(watch.ElapsedMs(), c.minMs);
        EXPECT_LT(watch.ElapsedMs(), c.minMs + 3000);   // a watchdog of 400 ms, not of seconds
        if (c.logged) { EXPECT_TRUE(log.WaitFor(c.logged)) << c.logged; }
        if (c.type != OIPC_QUERY) continue;
        EXPECT_EQ(OIPC_RESULT, command.GetCommandType());
        EXPECT_EQ(13u, command.GetClassId());
        EXPECT_EQ(0x1F000005u, command.GetMessageId());
        EXPECT_EQ(c.code, command.GetStatus());
        EXPECT_EQ(c.code == 0 ? L"{\"ok\":1}" : L"", PayloadOf(command));
        EXPECT_EQ(c.code == 0 ? 0x77u : 0u, command.GetReturnInfo().value);   // the high half 0
    }
    EXPECT_EQ(1u, log.Count("CIpcPeer::RunCallback: No callback function assigned."));   // it did not bounce
    hold.Set();
}

TEST(IpcPeer, SecondProcessCannotListenOnTheSameName) {
    LocalServer first;
    ASSERT_EQ(0u, first.server.Start());
    ServerProcess second(first.name);   // its stop event exists already
    EXPECT_EQ(IPC_RESULT_NOT_CREATED, second.Quit());
    EXPECT_TRUE(Answers(first.name));   // the first listener is unharmed
}

// A result record that arrives on a listening peer ends its receive loop by
// design; the server notices, says so, and serves the pipe again.
TEST(IpcPeer, ResultArrivingOnAListeningPeerEndsItsLoopAndTheServerListensAgain) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    LocalServer listener;
    ASSERT_EQ(0u, listener.server.Start());
    ASSERT_TRUE(WriteOnce(listener.name, Bytes(OIPC_RESULT, L"")));
    EXPECT_TRUE(log.WaitFor("CIpcServer: The accept thread ended without a stop; listening on " +
                            KelTest::Narrow(listener.name) + " again."));
    EXPECT_TRUE(KelTest::WaitUntil([&] { return Answers(listener.name); }));
    EXPECT_EQ(0u, listener.server.Stop());
}

// The provider holds every post until five run at once.
TEST(IpcPeer, FiveRequestsRunAtOnceAndTheSixthWaits) {
    LocalServer listener;
    ASSERT_EQ(0u, listener.server.Start());
    KelTest::NamedEvent hold(KelTest::UniqueName(L"kelhold"));
    CIpcPeer sender;
    sender.SetPipeName(listener.name);
    for (int i = 0; i < 6; ++i) {
        CIpcCommand request;
        ASSERT_EQ(0u, sender.Send(Fill(request, OIPC_REQUEST, 6, 0x18000019, L"{\"hold\":\"" + hold.Name() + L"\"}")));
    }
    EXPECT_TRUE(KelTest::WaitUntil([&] { return listener.controller.State()["postsAtOnce"] == 5; }));
    hold.Set();
    EXPECT_TRUE(KelTest::WaitUntil([&] { return listener.Posts() == 6; }));
    EXPECT_EQ(5, listener.controller.State()["postsAtOnce"].get<int>());
}

// Bad records of every kind, sent to the agent, are kelprobe's campaign; here
// a query left as it came (its body is not JSON) goes back without the
// serving peer's address, which its return value carried in the server, and
// the peer goes on serving.
TEST(IpcPeer, AQueryLeftAsItCameGoesBackWithoutTheServersAddress) {
    LocalServer listener;
    ASSERT_EQ(0u, listener.server.Start());
    const std::vector<BYTE> good = Bytes(OIPC_REQUEST, L"{\"a\":1}");
    CIpcCommand query;
    std::wstring returnPipe;
    ASSERT_TRUE(Fill(query, OIPC_QUERY, 6, 0x18000021, L"not json").GetReturnPipeName(returnPipe));
    CPipeServer asker;
    std::string echoed;
    ASSERT_TRUE(asker.Initial(returnPipe.c_str(), 10u) && WriteOnce(listener.name, query.Serialized()));
    ASSERT_TRUE(asker.FetchCmd(echoed) && echoed.size() == 72u) << echoed.size();
    EXPECT_EQ(std::string("\x03\0\0\0", 4), echoed.substr(4, 4));   // still a query
    EXPECT_EQ(std::string(8, '\0'), echoed.substr(48, 8));
    ASSERT_TRUE(WriteOnce(listener.name, good));
    EXPECT_TRUE(KelTest::WaitUntil([&] { return listener.Posts() == 1; }));
    EXPECT_EQ(JsonValue::parse(R"([{"classId":6,"messageId":402653209,"body":{"a":1}}])"),
              listener.controller.State()["posts"]);
}
