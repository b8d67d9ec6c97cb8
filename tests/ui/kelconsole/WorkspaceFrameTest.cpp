// The consoles, the pop-up windows and the add-on console on real frames.
#include "WorkspaceFrames.h"

using KelTest::Caption;
using KelTest::WorkspaceFrames;


// A new console takes its script with the description; a console that is
// there already is shown and then runs it.
TEST_F(WorkspaceFrames, ConsoleIsCreatedOnceAndOpensTheAskedTab) {
    const std::wstring tab2 = L"app.window.setTabIndexToBeSwitched(2); app.window.switchToTab(2)";
    const struct { const char* what; JsonValue body; std::wstring script; } cases[] = {
        {"tab 2", {{"TabIndex", 2}}, tab2},
        {"no tab: the first", JsonValue::object(), L"app.window.setTabIndexToBeSwitched(0); app.window.switchToTab(0)"},
        {"tab -1 with a script of its own", {{"TabIndex", -1}, {"ExtraScript", "app.window.lock()"}}, L"app.window.lock()"},
    };
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, cases[0].body));
    const DWORD console = Manager().GetConsoleUiThreadId();
    ASSERT_TRUE(threads.WaitAnnounced(console));
    const std::wstring created = Journal(console);
    EXPECT_EQ(0u, created.find(L"create page=ManagementConsole.html title=Quorvane Password Manager hidden\n")) << created;
    EXPECT_NE(std::wstring::npos, created.find(L"script " + tab2 + L"\nshow\n")) << created;
    EXPECT_TRUE(::IsWindowVisible(Window(console)));
    EXPECT_EQ(L"Quorvane Password Manager", Caption(Window(console)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = Journal(console).size();
        EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, c.body));
        EXPECT_EQ(console, Manager().GetConsoleUiThreadId()) << "no second console";
        EXPECT_EQ(L"show\nscript " + c.script + L"\n", Journal(console).substr(before));
    }
    EXPECT_EQ(1u, threads.Announcements().size());

    // Deactivation and hiding act on the real window; status and count follow.
    const struct { uint32_t id; const char* line; bool visible; } steps[] = {
        {KEL_PROVIDER_WORKSPACE_MSG_DEACTIVATE_CONSOLE_UI, "deactivate", true},
        {KEL_PROVIDER_WORKSPACE_MSG_HIDE_CONSOLE_UI, "hide", false},
    };
    for (const auto& step : steps) {
        const size_t before = Journal(console).size();
        EXPECT_EQ(0u, Send(step.id));
        EXPECT_EQ(KelTest::Widen(step.line) + L"\n", Journal(console).substr(before));
        EXPECT_EQ(step.visible, ::IsWindowVisible(Window(console)) != FALSE) << step.line;
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS));
        EXPECT_EQ(step.visible, last["ConsoleUiStatus"]);
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT));
        EXPECT_EQ(step.visible ? 1u : 0u, last["ActivatedUiCnt"]);
    }

    // A console that the component closed is found dead and made again.
    ASSERT_EQ(S_OK, frames->CloseAll());
    ASSERT_TRUE(threads.WaitEnded(console, 10000));
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_HIDE_CONSOLE_UI)) << "hiding a dead console";
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI));
    EXPECT_NE(console, Manager().GetConsoleUiThreadId());
    EXPECT_TRUE(::IsWindowVisible(Window(Manager().GetConsoleUiThreadId())));
}

// The warning is centred on the real desktop at 589 by 402; the mini browser
// goes where its caller says. Both carry the subscription title.
TEST_F(WorkspaceFrames, WarningIsCentredAndTheMiniBrowserPlaced) {
    RECT desktop = {};
    ASSERT_TRUE(::GetWindowRect(::GetDesktopWindow(), &desktop));
    const LONG x = (desktop.right - 589) / 2, y = (desktop.bottom - 402) / 2;
    const struct { const char* what; uint32_t id; JsonValue body; RECT expected; } cases[] = {
        {"warning", KEL_PROVIDER_WORKSPACE_MSG_SHOW_SUSPICIOUS_WARNING, {{"BalloonPageName", "BHOConsole.html"}},
         {x, y, x + 589, y + 402}},
        {"mini browser", KEL_PROVIDER_WORKSPACE_MSG_SHOW_MINI_BROWSER,
         {{"BalloonPageName", "BHOConsole.html"}, {"BalloonPosX", 40}, {"BalloonPosY", 30}, {"BalloonWidth", 300}},
         {40, 30, 340, 432}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0u, Send(c.id, c.body));
        const std::vector<KelTest::FrameThreads::Announcement> announced = threads.Announcements();
        ASSERT_FALSE(announced.empty());
        HWND window = Window(announced.back().threadId);
        RECT placed = {};
        ASSERT_TRUE(::GetWindowRect(window, &placed));
        EXPECT_EQ(std::make_tuple(c.expected.left, c.expected.top, c.expected.right, c.expected.bottom),
                  std::make_tuple(placed.left, placed.top, placed.right, placed.bottom));
        EXPECT_TRUE(::IsWindowVisible(window));
        EXPECT_EQ(L"Quorvane Password Manager", Caption(window));
        EXPECT_EQ(0u, Send(c.id, c.body));   // shown again, not made again
        EXPECT_EQ(announced.size(), threads.Announcements().size());
    }
}

// Created hidden with its creation script, shown over the tab at the asked
// place, then closed only by the frame that owns it.
TEST_F(WorkspaceFrames, AddOnConsoleLifeCycle) {
    const JsonValue tab = {{"BrowserName", "IE"}, {"WindowId", "1234"}, {"TabId", "7"}};
    JsonValue hidden = tab;
    hidden["CreateHiddenBhoConsole"] = true;
    hidden["BalloonInitData"] = R"({"site":"a"})";
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, hidden));
    EXPECT_EQ(JsonValue::object(), last) << "the body is emptied";
    ASSERT_EQ(1u, threads.Announcements().size());
    const DWORD console = threads.Announcements()[0].threadId;
    EXPECT_FALSE(::IsWindowVisible(Window(console)));
    EXPECT_NE(std::wstring::npos, Journal(console).find(
        LR"(script kel.ext.OnCreate('BHOConsole', {"CreateHiddenBhoConsole":true,"site":"a"});)")) << Journal(console);

    JsonValue show = tab;
    show["BalloonInitData"] = R"({"site":"b"})";
    show["BalloonPosX"] = 100;
    show["BalloonPosY"] = 120;
    const size_t before = Journal(console).size();
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, show));
    RECT placed = {};
    ASSERT_TRUE(::GetWindowRect(Window(console), &placed));
    EXPECT_EQ(std::make_pair(100L, 120L), std::make_pair(placed.left, placed.top));
    EXPECT_TRUE(::IsWindowVisible(Window(console)));
    const std::wstring shown = Journal(console).substr(before);
    EXPECT_NE(std::wstring::npos, shown.find(LR"(script app.window.onBeforeBHOConsoleShow({"site":"b"});)")) << shown;
    EXPECT_NE(std::wstring::npos, shown.find(LR"(script app.window.onBHOConsoleShow('IE_7', {"site":"b"});)")) << shown;
    EXPECT_EQ(1u, threads.Announcements().size()) << "the same console";
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT));
    EXPECT_EQ(1u, last["ActivatedUiCnt"]);

    EXPECT_EQ(PROVIDER_RESULT_FAILED, Send(KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BHO_CONSOLE, {{"BalloonThreadId", console + 1}}));
    EXPECT_TRUE(::IsWindowVisible(Window(console))) << "another frame's close";
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BHO_CONSOLE, {{"BalloonThreadId", console}}));
    EXPECT_FALSE(::IsWindowVisible(Window(console)));
    EXPECT_NE(std::wstring::npos, Journal(console).find(L"script app.window.onBHOConsoleHide({});\nhide\n"));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT));
    EXPECT_EQ(0u, last["ActivatedUiCnt"]);
}

// An installer asked for the console: the pages resynchronise (500 ms) and
// the flag is cleared. In PIN state 3 a console that came to the front
// announces that the profile changed; while it is visible, another process
// taking the foreground is announced as a blur.
TEST_F(WorkspaceFrames, ConsoleTellsTheServiceAndThePages) {
    KelTest::CannedController service(0, {{"DisplayMainConsoleFlag", true}, {"PinState", 3}});
    CWorkspaceProvider workspace(&service, frames.get(), nullptr);
    JsonValue body = JsonValue::object();
    KelTest::Stopwatch watch;
    ASSERT_EQ(0u, workspace.MessageProc(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, body));
    EXPECT_GE(watch.ElapsedMs(), 450);
    CWorkspaceManager::HandleWindowBlur();
    auto call = [](const char* mode, uint32_t classId, uint32_t message, JsonValue sent) {
        return JsonValue{{"mode", mode}, {"class", classId}, {"message", message}, {"body", sent}};
    };
    const std::vector<JsonValue> expected = {
        call("send", KEL_PROVIDER_MISC, KEL_MISC_MSG_DISPLAY_FLAG, JsonValue::object()),
        call("broadcast", 0, KEL_BROADCAST_INSTALLER_SYNC, JsonValue::object()),
        call("send", KEL_PROVIDER_MISC, KEL_MISC_MSG_DISPLAY_FLAG, {{"ClearFlag", nullptr}}),
        call("send", KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, {{"PinState", 0}}),
        call("broadcast", 0, KEL_BROADCAST_PROFILE_MODIFIED, JsonValue::object()),
        call("broadcast", 0, KEL_BROADCAST_WINDOW_BLUR, JsonValue::object()),
    };
    EXPECT_EQ(expected, service.Calls());
}

// A frame thread that nobody resumes costs the request its bound, not the
// workspace: the answer is a failure and the next message is served.
struct UnadoptedFrames : WorkspaceFrames {
    UnadoptedFrames() : WorkspaceFrames(KelTest::FrameThreads::Adopt::Hold) {}
};

TEST_F(UnadoptedFrames, FramesNotYetRunFailTheirRequestsOnlyAndAreKept) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    KelTest::Stopwatch watch;
    EXPECT_EQ(PROVIDER_RESULT_FAILED, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI));
    EXPECT_LT(watch.ElapsedMs(), 30000);
    EXPECT_TRUE(log.Contains("CWorkspaceManager::ShowConsoleUI: Failed to show console UI (")) << log.Text();
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS));
    EXPECT_TRUE(last.contains("ConsoleUiStatus"));
    // Resumed at last, the same console shows.
    const DWORD console = Manager().GetConsoleUiThreadId();
    ASSERT_TRUE(threads.Resume(console));
    EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI));
    EXPECT_EQ(console, Manager().GetConsoleUiThreadId());
    EXPECT_TRUE(::IsWindowVisible(Window(console)));

    // Not yet ready is not gone: the next request finds the same add-on console.
    const JsonValue hidden = {{"CreateHiddenBhoConsole", true}};
    for (int request = 0; request < 2; ++request) EXPECT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, hidden));
    ASSERT_EQ(2u, threads.Announcements().size());
    EXPECT_TRUE(threads.Resume(threads.Announcements()[1].threadId));
}
