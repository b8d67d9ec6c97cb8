#include <gtest/gtest.h>

#include "IpcServer.h"
#include "TestProcesses.h"

// The rules of the server's callback for what it refuses or keeps apart, one
// command each, on a server that is not listening: the callback is called
// directly, as the peer's threads do. A refused record stays as it came, and
// nothing reaches the provider; a query is answered with the code. A body
// nested past the limit is refused before anything copies or writes it; the
// limit itself passes, and brackets inside strings do not count. How answered
// queries and posted requests look is the peer's tests and the cross-process
// one below.
TEST(IpcServer, RefusedCommandsStayAsTheyCameAndAdvisesRegisterOnce) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    TestController controller;
    CIpcServer server;
    ASSERT_EQ(0u, server.Initialize(&controller, KelTest::UniqueName(L"kelrules")));
    auto nested = [](int depth) {   // an object, then arrays: depth levels in all
        return L"{\"a\":" + std::wstring(depth - 1, L'[') + std::wstring(depth - 1, L']') + L"}";
    };
    const struct Case {   // code: the callback's result
        const char* what; uint32_t type, messageId; std::wstring payload; uint32_t code; const char* logged;
    } cases[] = {
        {"request not JSON", OIPC_REQUEST, 0x01060009, L"", PROVIDER_RESULT_INVALID_PARAMETER, nullptr},
        {"advise in the low 16 bits", OIPC_ADVISE, 0x00120106, L"PIPE-A", 0,
         "Added remote listener for class 0x0106, client PIPE-A"},
        {"repeated advise", OIPC_ADVISE, 0x106, L"PIPE-A", 0,
         "CIpcServer::AddRemoteListener: (00000106|PIPE-A) is already added."},
        // Refused: a listener without a pipe could never be reached.
        {"advise without pipe name", OIPC_ADVISE, 0x107, L"", PROVIDER_RESULT_INVALID_PARAMETER,
         "Refused remote listener without notify pipe name."},
        {"notify is not the server's", OIPC_NOTIFY, 0x01060002, L"{}", IPC_SERVER_UNKNOWN_COMMAND,
         "CIpcServer::HandleRcvCallback: Unknown command type: 5"},
        {"query at the limit", OIPC_QUERY, 0x18000021, nested(KELJSON_MAX_DEPTH), 0, nullptr},
        {"query one past it", OIPC_QUERY, 0x18000022, nested(KELJSON_MAX_DEPTH + 1), PROVIDER_RESULT_INVALID_PARAMETER,
         "Refused a body nested deeper than 256 levels: [0x106, 0x18000022]"},
        {"query of 20,000 levels", OIPC_QUERY, 0x18000023, nested(20000), PROVIDER_RESULT_INVALID_PARAMETER,
         "Refused a body nested deeper than 256 levels: [0x106, 0x18000023]"},
        {"brackets in a string", OIPC_QUERY, 0x18000024, L"{\"a\":\"" + std::wstring(1000, L'[') + L"\\\"[\"}", 0,
         nullptr},
        {"post one past it", OIPC_REQUEST, 0x18000025, nested(KELJSON_MAX_DEPTH + 1), PROVIDER_RESULT_INVALID_PARAMETER,
         "Refused a body nested deeper than 256 levels: [0x106, 0x18000025]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcCommand command;
        EXPECT_EQ(c.code, CIpcServer::RcvCallback(Fill(command, c.type, 0x106, c.messageId, c.payload), &server));
        EXPECT_EQ(c.type == OIPC_QUERY ? OIPC_RESULT : c.type, command.GetCommandType());
        if (c.type == OIPC_QUERY) { EXPECT_EQ(c.code, command.GetReturnValue()); }
        else { EXPECT_EQ(c.payload, PayloadOf(command)); EXPECT_EQ(0u, command.GetReturnInfo().value); }
        if (c.logged) { EXPECT_EQ(1u, log.Count(c.logged)) << c.logged; }
    }
    const JsonValue state = controller.State();   // the two queries within the limit only
    EXPECT_EQ(2u, state["sends"].size());
    EXPECT_TRUE(state["posts"].empty());
}

// A client in this process, the server in another: the provider's code and
// body come back. A provider that throws fails that one message, with an
// error line, and the server goes on serving: a query is answered with the
// code at once (and a null body), not left to the asker's watchdog.
TEST(IpcServer, ProvidersAnswersAndExceptionsCrossThePipeAsResultCodes) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    CIpcClient client(20000);   // far beyond the bound below
    ASSERT_TRUE(client.Initialize(server.Pipe()));
    const struct Case {   // logged: by the send, and by the post too when the provider throws
        const char* body; uint32_t code; JsonValue reply; std::string logged;
    } cases[] = {
        // The compact text goes out: 17 characters.
        {R"({"b":[1,2],"a":1})", 0, {{"ok", 1}}, "<---- Received IPC command: [0x106, 0x1060001, (17 chars body)]"},
        {R"({"code":268435461})", 0x10000005, {{"ok", 1}}, "Sending IPC response to client: [0x10000005, (8 chars body)]"},
        {R"({"throw":"bad_alloc"})", PROVIDER_RESULT_OUT_OF_MEMORY, JsonValue(),
         "CIpcServer::HandleRcvCallback: Out of memory (exception caught)"},
        {R"({"throw":"type_error"})", PROVIDER_RESULT_FAILED, JsonValue(),
         "CIpcServer::HandleRcvCallback: Exception caught: [json.exception.type_error"},
        {R"({"throw":"result"})", PROVIDER_RESULT_FAILED, JsonValue(),
         "CIpcServer::HandleRcvCallback: Result exception caught: 0x80004005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        JsonValue body = JsonValue::parse(c.body);
        const bool throws = body.contains("throw");
        ASSERT_EQ(0u, client.PostMessageToProvider(0x106, 0x01060009, body));
        KelTest::Stopwatch watch;
        EXPECT_EQ(c.code, client.SendMessageToProvider(0x106, 0x01060001, body));
        EXPECT_LT(watch.ElapsedMs(), 10000);
        EXPECT_EQ(c.reply, body);
        EXPECT_TRUE(server.Log().WaitFor(c.logged, 5000, throws ? 2 : 1)) << c.logged;
    }
    const JsonValue state = server.State();
    ASSERT_EQ(2u, state["sends"].size());
    EXPECT_EQ(JsonValue::parse(R"({"a":1,"b":[1,2]})"), state["sends"][0]["body"]);
    EXPECT_EQ(2u, state["posts"].size());
    EXPECT_EQ(0u, server.Quit());   // the server process is still there, and ends well
}

