// The workspace provider's table and the manager's failure paths, with a
// scripted frame component and a controller that keeps what it was sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MockFrameManager.h"
#include "ProviderMessages.h"
#include "QvException.h"
#include "QvLog.h"
#include "TestSupport.h"
#include "WorkspaceProvider.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

namespace {
constexpr DWORD FRAME = 1234;
} // namespace

// Nothing here reaches the frame component: a call on it fails the test.
TEST(WorkspaceProvider, AnswersWhatItServesItselfAndRefusesTheRest) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    StrictMock<MockFrameManager> frames;
    KelTest::CannedController controller(0, JsonValue::object());
    QvCommon::UniqueHandle exitEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CWorkspaceProvider provider(&controller, &frames, exitEvent.get());
    ASSERT_NE(nullptr, provider.GetManager());
    EXPECT_EQ(KEL_PROVIDER_WORKSPACE, provider.GetClassId());
    const JsonValue ARRAY = JsonValue::array({1, 2});
    // logged: a line the call writes; empty: it writes nothing at all.
    const struct {
        const char* what; uint32_t id; JsonValue body; uint32_t code; JsonValue reply; std::string logged;
    } cases[] = {
        {"gap 0x1C, null body", 0x1800001C, nullptr, PROVIDER_RESULT_NOT_SUPPORTED, nullptr, ""},
        {"gap 0x1F, a body that is no object", 0x1800001F, ARRAY, PROVIDER_RESULT_NOT_SUPPORTED, ARRAY, ""},
        {"above the table, a body that is no object", 0x18000023, 5, PROVIDER_RESULT_NOT_SUPPORTED, 5, ""},
        {"below the table", 0x18000000, nullptr, PROVIDER_RESULT_NOT_SUPPORTED, nullptr, ""},
        {"a body that is no object", KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, 5, PROVIDER_RESULT_INVALID_PARAMETER, 5,
         "CWorkspaceProvider::MessageProc: Invalid parameter..."},
        {"activated count, asked with null", KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT, nullptr, 0,
         {{"ActivatedUiCnt", 0u}}, "m_bBhoShown=0, m_bBallonShown=0, bConsoleVisible=0"},
        {"pop-up without a page", KEL_PROVIDER_WORKSPACE_MSG_SHOW_POPUP_WINDOW, {{"BalloonPageName", 3}},
         PROVIDER_RESULT_INVALID_PARAMETER, {{"BalloonPageName", 3}}, "CWorkspaceManager::ShowPopupWindow - Invalid parameter."},
        {"clipboard text not a string", KEL_PROVIDER_WORKSPACE_MSG_COPY_DATA_TO_CLIPBOARD, {{"CopyData", 5}},
         PROVIDER_RESULT_INVALID_PARAMETER, {{"CopyData", 5}}, "CWorkspaceManager::CopyDataToClipboard - Invalid parameter."},
        {"add-on console init data not JSON", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, {{"BalloonInitData", "{nope"}},
         PROVIDER_RESULT_INVALID_PARAMETER, JsonValue::object(),
         "CWorkspaceManager::ShowBHOConsole: Invalud balloon init data: [{nope]"},
        // A caller's text in a log line is cut, and says how long it was.
        {"long init data", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, {{"BalloonInitData", "{" + std::string(5000, 'x')}},
         PROVIDER_RESULT_INVALID_PARAMETER, JsonValue::object(),
         "Invalud balloon init data: [{" + std::string(QVLOG_CALLER_TEXT_LIMIT - 1, 'x') + "... (5001 chars)]"},
        {"balloon identity not strings", KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS,
         {{"BrowserName", "IE"}, {"WindowId", 1234}, {"TabId", "7"}}, PROVIDER_RESULT_INVALID_PARAMETER,
         {{"BrowserName", "IE"}, {"WindowId", 1234}, {"TabId", "7"}, {"BalloonIsShow", false}},
         "CWorkspaceManager::MakeBalloonIdString - Invalid parameters."},
        {"exit, whatever its body", KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM, ARRAY, 0, ARRAY,
         "CWorkspaceProvider::MessageProc: Received KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t logged = log.Text().size();
        JsonValue body = c.body;
        EXPECT_EQ(c.code, provider.MessageProc(c.id, body));
        EXPECT_EQ(c.reply, body);
        EXPECT_EQ(c.id == KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM, ::WaitForSingleObject(exitEvent.get(), 0) == WAIT_OBJECT_0);
        ::ResetEvent(exitEvent.get());
        if (c.logged.empty()) { EXPECT_EQ(logged, log.Text().size()); } else { EXPECT_TRUE(log.Contains(c.logged)) << c.logged; }
    }
    EXPECT_FALSE(log.Contains(std::string(QVLOG_CALLER_TEXT_LIMIT, 'x')));
    EXPECT_TRUE(controller.Calls().empty());
    JsonValue body = JsonValue::object();
    EXPECT_EQ(0u, CWorkspaceProvider(&controller, &frames, nullptr).MessageProc(KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM, body));
}

// What the frame component answers decides the code; a frame id of 0 after
// a successful creation is a state the workspace does not go on from.
TEST(WorkspaceManager, FrameFailuresBecomeResultCodes) {
    const HRESULT CREATED_NONE = S_FALSE;   // marks "creation succeeds, id 0"
    const uint32_t THROWS_E_FAIL = 0x80004005;   // a result exception carrying E_FAIL, not a code
    const struct {
        const char* what; uint32_t id; JsonValue body; HRESULT create, show; uint32_t code; const char* logged;
    } cases[] = {
        {"console not created", KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, JsonValue::object(), E_FAIL, S_OK,
         PROVIDER_RESULT_FAILED, "CWorkspaceManager::ShowConsoleUI: CreateUIFrame() failed: 0x80004005"},
        {"console not shown", KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, JsonValue::object(), S_OK, E_ACCESSDENIED,
         PROVIDER_RESULT_FAILED, "CWorkspaceManager::ShowConsoleUI: Failed to show console UI (1234): 0x80070005"},
        {"console of id 0", KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, JsonValue::object(), CREATED_NONE, S_OK, THROWS_E_FAIL,
         nullptr},
        {"pop-up not created", KEL_PROVIDER_WORKSPACE_MSG_SHOW_POPUP_WINDOW, {{"BalloonPageName", "About.html"}}, E_FAIL,
         S_OK, PROVIDER_RESULT_FAILED, "CWorkspaceManager::ShowPopupWindow: CreateUIFrame() failed: 0x80004005"},
        {"add-on console not created", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, JsonValue::object(), E_FAIL, S_OK,
         PROVIDER_RESULT_FAILED, "CWorkspaceManager::ShowBHOConsole: CreateUIFrame() failed: 0x80004005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::CapturedLog log;
        ASSERT_TRUE(log.Initialized());
        ::testing::NiceMock<MockFrameManager> frames;
        ON_CALL(frames, WaitForReadyState(_, _)).WillByDefault(Return(FRAME_E_NOT_FOUND));
        ON_CALL(frames, WaitForReadyState(FRAME, _)).WillByDefault(Return(S_OK));
        ON_CALL(frames, CreateUIFrame(_, _)).WillByDefault(DoAll(SetArgPointee<1>(c.create == CREATED_NONE ? 0 : FRAME),
                                                                 Return(c.create == CREATED_NONE ? S_OK : c.create)));
        ON_CALL(frames, ShowFrame(_)).WillByDefault(Return(c.show));
        KelTest::CannedController controller(0, JsonValue::object());
        CWorkspaceProvider provider(&controller, &frames, nullptr);
        JsonValue body = c.body;
        uint32_t code = 0;
        try { code = provider.MessageProc(c.id, body); } catch (const QvCommon::Exception::Result& e) { code = e.GetResult(); }
        EXPECT_EQ(c.code, code);
        if (c.logged) { EXPECT_TRUE(log.Contains(c.logged)) << c.logged; }
    }
}

// A balloon frame that was made and could not be shown is not left behind.
TEST(WorkspaceManager, ANewBalloonFrameThatCannotBeShownIsClosed) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ::testing::NiceMock<MockFrameManager> frames;
    ON_CALL(frames, CreateUIFrame(_, _)).WillByDefault(DoAll(SetArgPointee<1>(FRAME), Return(S_OK)));
    ON_CALL(frames, GetFrameHwnd(FRAME, _)).WillByDefault(DoAll(SetArgPointee<1>(window), Return(S_OK)));
    ON_CALL(frames, ShowFrame(_)).WillByDefault(Return(E_ACCESSDENIED));
    KelTest::CannedController controller(0, JsonValue::object());
    CWorkspaceProvider provider(&controller, &frames, nullptr);
    JsonValue body = {{"BrowserName", "IE"}, {"WindowId", "1"}, {"TabId", "1"}, {"BalloonPageName", "a.html"}};
    EXPECT_EQ(PROVIDER_RESULT_FAILED, provider.MessageProc(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, body));
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    EXPECT_FALSE(::IsWindow(window));
}
