// Balloons over browser tabs on real frames: one frame per browser window,
// shared by its tabs, healed when it died, and add-on pop-ups that follow
// their toolbar.
#include "WorkspaceFrames.h"

using KelTest::WorkspaceFrames;

namespace {

JsonValue Tab(const char* tab, JsonValue more = JsonValue::object(), const char* window = "1234") {
    more["BrowserName"] = "IE";
    more["WindowId"] = window;
    more["TabId"] = tab;
    return more;
}

} // namespace

TEST_F(WorkspaceFrames, TabsOfABrowserWindowShareItsBalloon) {
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON,
                       Tab("7", {{"BalloonPageName", "BHOConsole.html"}, {"BalloonInitData", "{}"},
                                 {"BalloonPosX", 50}, {"BalloonPosY", 60}})));
    EXPECT_EQ(JsonValue::object(), last);
    ASSERT_EQ(1u, threads.Announcements().size());
    const DWORD balloon = threads.Announcements()[0].threadId;
    RECT placed = {};
    ASSERT_TRUE(::GetWindowRect(Window(balloon), &placed));
    EXPECT_EQ(std::make_pair(50L, 60L), std::make_pair(placed.left, placed.top));
    EXPECT_NE(std::wstring::npos, Journal(balloon).find(L"script kel.ext.OnCreate('IE_7', {});\nshow\n"))
        << KelTest::Narrow(Journal(balloon));

    // Each step: the request, its code, and what the frame did (empty: nothing).
    const std::wstring pageOf7 = L"BHOConsole.html";
    const struct { const char* what; uint32_t id; JsonValue body; uint32_t code; std::wstring journal; } steps[] = {
        {"second tab", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, Tab("8", {{"BalloonPageName", "ManagementConsole.html"}}), 0,
         L"hide\nload ManagementConsole.html\nscript kel.ext.OnCreate('IE_8');\nshow\n"},
        {"move of the tab in the background", KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON,
         Tab("7", {{"BalloonPosX", 5}, {"BalloonPosY", 5}}), 0, L""},
        {"move of the tab on screen", KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON,
         Tab("8", {{"BalloonPosX", 70}, {"BalloonPosY", 80}}), 0, L"move 70,80\n"},
        {"hide", KEL_PROVIDER_WORKSPACE_MSG_HIDE_BALLOON, Tab("8"), 0, L"hide\nscript kel.ext.OnHide();\n"},
        {"the first tab again", KEL_PROVIDER_WORKSPACE_MSG_SHOW_HIDDEN_BALLOON, Tab("7"), 0,
         L"load " + pageOf7 + L"\nscript kel.ext.OnCreate('IE_7');\nshow\n"},
        {"close by a page that was replaced", KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON,
         {{"BalloonThreadId", balloon}, {"BalloonCloseUrl", "http://kel.test/a.html"}}, PROVIDER_RESULT_FAILED, L""},
        {"close by its own page", KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON,
         {{"BalloonThreadId", balloon}, {"BalloonCloseUrl", "http://kel.test/BHOConsole.html"}}, 0, L"hide\n"},
        {"status of the closed tab", KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS, Tab("7"),
         WORKSPACE_RESULT_NO_SUCH_BALLOON, L""},
        {"status of the hidden tab", KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS, Tab("8"), 0, L""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const size_t before = Journal(balloon).size();
        EXPECT_EQ(step.code, Send(step.id, step.body));
        EXPECT_EQ(step.journal, Journal(balloon).substr(before));
    }
    EXPECT_EQ(false, last["BalloonIsShow"]);
    EXPECT_EQ(1u, threads.Announcements().size()) << "one frame for the window";
    const JsonValue closed = {{"BalloonWindowHandle", std::to_string(reinterpret_cast<uintptr_t>(Window(balloon)))},
                              {"TabId", "IE_7"}, {"WindowId", "IE_1234"}};
    EXPECT_EQ(closed, controller.Calls().back()["body"]);
    EXPECT_EQ(KEL_BROADCAST_BHO_POPUP_CLOSED, controller.Calls().back()["message"].get<uint32_t>());

    // The frame dies underneath: the next balloon of the window gets a new one
    // in the same request.
    ASSERT_EQ(S_OK, frames->CloseAll());
    ASSERT_TRUE(threads.WaitEnded(balloon, 10000));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, Tab("9", {{"BalloonPageName", "BHOConsole.html"}})));
    ASSERT_EQ(2u, threads.Announcements().size());
    EXPECT_TRUE(::IsWindowVisible(Window(threads.Announcements()[1].threadId)));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS, Tab("9")));
    EXPECT_EQ(true, last["BalloonIsShow"]);
}

// A browser window of the test with its toolbar button as a child window;
// the add-on pop-up is placed below the button when the browser moves.
TEST_F(WorkspaceFrames, AddOnPopupsFollowTheirToolbar) {
    // offset: how far left of the button the pop-up goes.
    const struct { const char* browser; int toolbarLeft; LONG offset; } cases[] = {
        {"IE", 500, 390},   // near the browser's right edge
        {"IE", 100, 14},
        {"SW", 100, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.browser << " " << c.toolbarLeft);
        HWND browser = ::CreateWindowExW(0, L"STATIC", L"browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 700, 500,
                                         nullptr, nullptr, nullptr, nullptr);
        HWND toolbar = ::CreateWindowExW(0, L"STATIC", L"button", WS_CHILD | WS_VISIBLE, c.toolbarLeft, 10, 30, 20, browser,
                                         nullptr, nullptr, nullptr);
        ASSERT_TRUE(browser && toolbar);
        wchar_t toolbarText[32];
        swprintf(toolbarText, 32, L"0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(toolbar)));
        const JsonValue popup = {{"BrowserName", c.browser}, {"WindowId", std::to_string(reinterpret_cast<uintptr_t>(browser))},
                                 {"TabId", "1"}, {"BalloonPageName", "BHOConsole.html"}, {"BalloonType", 2},
                                 {"BalloonToolbarHWND", KelJson::ToUtf8(toolbarText)}};
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, popup));
        EXPECT_EQ(KEL_BROADCAST_BHO_POPUP_CREATED, controller.Calls().back()["message"].get<uint32_t>());
        HWND balloon = Window(threads.Announcements().back().threadId);

        ASSERT_TRUE(::SetWindowPos(browser, nullptr, 150, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
        RECT button = {};
        ::GetWindowRect(toolbar, &button);
        // On Windows the location hook hands the moved window to this
        // handler. Wine 8 raises no win events for SetWindowPos or for
        // foreground changes (neither hook is ever called here), so the test
        // calls the handler as the hook would.
        CWorkspaceManager::HandleLocationChange(browser);
        RECT placed = {};
        ::GetWindowRect(balloon, &placed);
        EXPECT_EQ(std::make_pair(button.left - c.offset, button.bottom), std::make_pair(placed.left, placed.top));
        EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_CLEANUP_BROWSER_MAP, popup));
        ::DestroyWindow(browser);
    }
}


// A tab that one window shows and another made its active one: when the tab
// goes, no window keeps it; a tab of one window cannot open a frame for
// another; a window forgotten takes its frame with it.
TEST_F(WorkspaceFrames, NoWindowKeepsATabThatWent) {
    auto in = [](const char* window, const char* tab, JsonValue more = JsonValue::object()) { return Tab(tab, more, window); };
    const JsonValue page = {{"BalloonPageName", "BHOConsole.html"}};
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, in("1", "7", page)));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, in("2", "8", page)));
    ASSERT_EQ(2u, threads.Announcements().size());
    const DWORD second = threads.Announcements()[1].threadId;
    KelTest::CapturedLog log;
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_HIDDEN_BALLOON, in("2", "7")));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON, in("1", "7")));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS, in("2", "8")));   // the maps are written out
    EXPECT_TRUE(log.Contains("key[IE_2] -> tsWindowId[IE_2], dwUiThreadId[" + std::to_string(second) +
                             "], pActiveBrowserTabInfo[0x00000000]")) << log.Text();
    const struct { const char* what; uint32_t id; JsonValue body; uint32_t code; } steps[] = {
        {"the second window's frame closes its page", KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON,
         {{"BalloonThreadId", second}, {"BalloonCloseUrl", "http://kel.test/BHOConsole.html"}}, PROVIDER_RESULT_FAILED},
        {"a tab of the second window in a third", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, in("3", "8", page),
         PROVIDER_RESULT_FAILED},
        {"the second window goes", KEL_PROVIDER_WORKSPACE_MSG_CLEANUP_BROWSER_MAP, in("2", "8"), PROVIDER_RESULT_FAILED},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.code, Send(step.id, step.body));
    }
    EXPECT_EQ(2u, threads.Announcements().size()) << "no frame for the third window";
    EXPECT_TRUE(threads.WaitEnded(second, 10000)) << KelTest::Narrow(Journal(second));
}
