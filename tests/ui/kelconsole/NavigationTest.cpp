// Pages opened for the rest of the product: browser frames, the default
// browser and Internet Explorer started for real (a recording program of the
// tests stands in for them), the login map, the add-ons' broadcasts, and the
// main process of a browser.
#include "WorkspaceFrames.h"

#include <gmock/gmock.h>
#include "DefaultBrowser.h"

using KelTest::RegistryScope;
using KelTest::WorkspaceFrames;

namespace {

// The default browser's choice, the version of each of the three browsers,
// and the recorder as the http handler and as Internet Explorer. Windows
// finds iexplore.exe through App Paths. Wine's shell looks in the system
// folder first, where Wine keeps a stub of it (App Paths, the program's
// folder and the current one come later: tried on Wine 8), so there the
// recorder takes the stub's place while a start is under way: Restore() puts
// the stub back as soon as the start is recorded, before anything is checked,
// and the object does at the end. Wine runs its own build of a program it
// ships rather than the file there, unless its overrides say otherwise.
struct Browsers {
    Browsers(const wchar_t* progid, const wchar_t* version) {
        EXPECT_NE(KelTest::ReadBytes(program), saved) << "a test that died left the recorder in the stub's place";
        if (!saved.empty()) { EXPECT_TRUE(::CopyFileW(program.c_str(), stub.c_str(), FALSE)) << ::GetLastError(); }
        EXPECT_TRUE(choice.SetString(QVBROWSER_VALUE_CHOICE, progid) && handler.SetString(L"", L"\"" + program + L"\" http %1") &&
                    iexplore.SetString(L"", program) && wineOverrides.SetString(WORKSPACE_FALLBACK_BROWSER, L"native") &&
                    ie.SetString(QVBROWSER_VALUE_IE_VERSION, version) &&
                    firefox.SetString(QVBROWSER_VALUE_FIREFOX_VERSION, version) &&
                    chrome.SetString(QVBROWSER_VALUE_CHROME_VERSION, version));
    }
    ~Browsers() { Restore(); }
    void Restore() {   // once the recorder has let go of the file
        EXPECT_TRUE(saved.empty() || KelTest::WaitUntil([&] { return KelTest::WriteText(stub, saved); })); saved.clear();
    }
    const std::wstring program = KelTest::ProgramFolder() + L"launch_recorder.exe";
    // The system folder: under WOW64 the file system takes a 32-bit program to its own.
    const std::wstring stub = _wgetenv(L"SystemRoot") + std::wstring(L"\\system32\\") + WORKSPACE_FALLBACK_BROWSER;
    std::string saved = KelTest::ReadBytes(stub);
    KelTest::LaunchRecord record;
    RegistryScope choice{QVBROWSER_KEY_URL_CHOICE, KelTest::OWN_VIEW, HKEY_CURRENT_USER};
    RegistryScope handler{QVBROWSER_KEY_HTTP_COMMAND, KelTest::OWN_VIEW, HKEY_CLASSES_ROOT};
    RegistryScope iexplore{L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe", KelTest::OWN_VIEW};
    // In the views the product reads them in, on both architectures.
    RegistryScope ie{QVBROWSER_KEY_IE}, firefox{QVBROWSER_KEY_FIREFOX, KEY_WOW64_32KEY},
        chrome{QVBROWSER_KEY_CHROME, KEY_WOW64_32KEY, HKEY_CURRENT_USER};
    RegistryScope wineOverrides{L"Software\\Wine\\DllOverrides", KEY_WOW64_64KEY, HKEY_CURRENT_USER};
};

} // namespace

TEST_F(WorkspaceFrames, BrowserFramesTakeTheirCommand) {
    const std::string longUrl = "https://kel.test/" + std::string(300, 'p');
    // created: the frame's first journal line; for a refused request, the line it logs.
    const struct { const char* what; uint32_t id; JsonValue body; uint32_t code; std::wstring created; } cases[] = {
        {"navigate without URL", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, JsonValue::object(), PROVIDER_RESULT_INVALID_PARAMETER,
         L"CWorkspaceManager::DoNavigate: Error! Some required parameters are missing..."},
        {"record, SiteId a string", KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD, {{"SiteId", "5"}, {"Location", "https://kel.test/"}},
         PROVIDER_RESULT_INVALID_PARAMETER, L"CWorkspaceManager::DoRecord: Error! The parameters are in wrong format..."},
        {"navigate", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, {{"Url", "https://kel.test/"}, {"AutoNavigate", true}}, 0,
         L"create browser command=https://kel.test/ navigate=1"},
        {"navigate, long URL cut", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, {{"Url", longUrl}, {"AutoNavigate", 1}}, 0,
         L"create browser command=" + KelTest::Widen(longUrl.substr(0, 259)) + L" navigate=0"},
        {"record", KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD, {{"SiteId", 5.5}, {"Location", "https://kel.test/rec"}}, 0,
         L"create browser command=https://kel.test/rec navigate=0"},
        {"login", KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN, {{"RecordId", "42"}}, 0, L"create browser command=login\t42 navigate=0"},
    };
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    size_t seen = threads.Announcements().size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.code, Send(c.id, c.body));
        // A frame made all the same would be announced before the next request's.
        if (c.code) { EXPECT_TRUE(log.Contains(KelTest::Narrow(c.created))); continue; }
        ASSERT_TRUE(KelTest::WaitUntil([&] { return threads.Announcements().size() > seen; }));
        const KelTest::FrameThreads::Announcement frame = threads.Announcements()[seen++];
        EXPECT_EQ(FRAME_KIND_POPUP, frame.kind);
        EXPECT_EQ(S_OK, frames->WaitForReadyState(frame.threadId, 0));   // its thread has run and written
        EXPECT_EQ(0u, Journal(frame.threadId).find(c.created + L"\n")) << KelTest::Narrow(Journal(frame.threadId));
        if (c.id == KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE) { EXPECT_EQ(frame.threadId, last["ThreadID"].get<DWORD>()); }
    }
}

// The default browser when it can log in, else Internet Explorer, gets the
// URL: a login's as it came, in quotes; nothing is started for an empty one.
// The card is kept under the URL without its last "/", and given once.
TEST_F(WorkspaceFrames, DefaultBrowserWhenItCanLogIn) {
    const uint32_t LOGIN = KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_DEFAULT_BROWSER,
                   OPEN = KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_DEFAULT_BROWSER;
    const std::string HANDLER = "\" http http://kel.test/login/", IE = "iexplore.exe\" \"http://kel.test/login/\"";
    // launched: how the one command line started ends.
    const struct { const char* what; const wchar_t* progid; const wchar_t* version; uint32_t id; std::string launched; } cases[] = {
        {"Firefox 3.5", L"FirefoxURL", L"3.5.1 (en-US)", LOGIN, HANDLER},
        {"Firefox 3.4", L"FirefoxURL", L"3.4.9", LOGIN, IE},
        {"Firefox 4.0", L"FirefoxURL", L"4.0", LOGIN, HANDLER},
        {"Firefox 2.9", L"FirefoxURL", L"2.9", LOGIN, IE},
        {"Internet Explorer 7", L"IE.HTTP", L"7.0.5730.13", LOGIN, HANDLER},
        {"Internet Explorer 6", L"IE.HTTP", L"6.0.2900.5512", LOGIN, IE},
        {"Chrome 5", L"ChromeHTML", L"5.0.375.125", LOGIN, HANDLER},
        {"Chrome 4", L"ChromeHTML", L"4.1.249.1064", LOGIN, IE},
        {"open, another browser", L"OperaStable", L"30.0", OPEN, "iexplore.exe\" http://kel.test/open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Browsers browsers(c.progid, c.version);
        if (c.id == OPEN) { ASSERT_EQ(0u, Send(OPEN, {{"OpenURL", ""}})); }
        ASSERT_EQ(0u, Send(c.id, c.id == OPEN ? JsonValue{{"OpenURL", "http://kel.test/open"}}
                                              : JsonValue{{"PasscardId", "card-1"}, {"LoginUrl", "http://kel.test/login/"}}));
        const std::vector<std::string> launched = browsers.record.WaitForLines();
        browsers.Restore();
        EXPECT_THAT(launched, ::testing::ElementsAre(::testing::EndsWith(c.launched)));
    }
    for (const char* asked : {"http://kel.test/login/", "http://kel.test/login", "http://kel.test/login"}) {
        const bool answers = std::string(asked) == "http://kel.test/login" && !last.contains("PasscardId");
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_QUERY_PASSCARD_ID_BY_URL, {{"Url", asked}}));
        EXPECT_EQ(answers, last.contains("PasscardId")) << asked;
    }
}

TEST_F(WorkspaceFrames, NewTabsAreTheAddOnsBusiness) {
    const JsonValue open = {{"TabId", "IE_7"}, {"OpenURL", "https://kel.test/a"}};
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_BROWSER_NEW_TAB,
                       {{"TabId", "IE_7"}, {"PasscardId", "c"}, {"LoginUrl", "https://kel.test/l"}}));
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_BROWSER_NEW_TAB, open));
    const std::vector<JsonValue> broadcasts = {
        {{"mode", "broadcast"}, {"class", 0}, {"message", KEL_BROADCAST_LOGIN_IN_TAB},
         {"body", {{"TabId", "IE_7"}, {"LoginPagePath", "https://kel.test/l"}}}},
        {{"mode", "broadcast"}, {"class", 0}, {"message", KEL_BROADCAST_OPEN_IN_TAB}, {"body", open}}};
    EXPECT_EQ(broadcasts, controller.Calls());
}

// A tab process answers its browser's main process; a browser started by the
// shell, or a process id that nobody has, answers itself.
TEST_F(WorkspaceFrames, ParentOfABrowsersTabProcess) {
    KelTest::TempFolder shell;
    ASSERT_TRUE(::CopyFileW((KelTest::ProgramFolder() + L"launch_recorder.exe").c_str(),
                            (shell.Path() + L"explorer.exe").c_str(), FALSE));
    const struct { const char* what; std::wstring folder, program; bool shellParent; } cases[] = {
        {"browser", KelTest::ProgramFolder(), L"launch_recorder.exe", false},
        {"started by the shell", shell.Path(), L"explorer.exe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::NamedEvent done(KelTest::UniqueName(L"tab"));
        KelTest::ChildProcess browser(c.program, L"spawn " + done.Name(),
                                      KelTest::ChildOptions().Capture().From(c.folder).In(KelTest::ProgramFolder()));
        ASSERT_TRUE(browser.Started());
        ASSERT_TRUE(KelTest::WaitUntil([&] { return browser.Output().find('\n') != std::string::npos; }, 30000));
        const unsigned tab = std::stoul(browser.Output());
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_PARENT_PID, {{"CurrentPid", tab}}));
        EXPECT_EQ(c.shellParent ? tab : browser.Id(), last["CurrentPid"].get<unsigned>());
        done.Set();
        EXPECT_EQ(0u, browser.Wait(KelTest::CHILD_START_MS));
    }
    ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_GET_PARENT_PID, {{"CurrentPid", 0x7FFFFFF0u}}));
    EXPECT_EQ(0x7FFFFFF0u, last["CurrentPid"].get<unsigned>());
}
