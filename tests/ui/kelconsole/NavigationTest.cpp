// Pages opened for the rest of the product: browser frames, the default
// browser and Internet Explorer started for real (a recording program of the
// tests stands in for them in the prefix's registry), the login map, the
// add-ons' broadcasts, and the main process of a browser.
#include "WorkspaceFrames.h"

#include "DefaultBrowser.h"

using KelTest::RegistryScope;
using KelTest::WorkspaceFrames;

namespace {

// The recorder as the http handler and as iexplore.exe, and the default
// browser's choice and version as given. Windows finds iexplore.exe through
// its App Paths entry; Wine keeps a stub of it in the system folder, which
// its shell finds first, so there the recorder takes the stub's place while
// the test runs.
struct Browsers {
    Browsers(const wchar_t* progid, const wchar_t* firefoxVersion) {
        const std::wstring program = KelTest::ProgramFolder() + L"launch_recorder.exe";
        EXPECT_TRUE(choice.SetString(L"Progid", progid) && firefox.SetString(L"CurrentVersion", firefoxVersion) &&
                    handler.SetString(L"", L"\"" + program + L"\" http %1") && iexplore.SetString(L"", program) &&
                    wineOverrides.SetString(L"iexplore.exe", L"native"));
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        stub = std::wstring(system) + L"\\iexplore.exe";
        saved = KelTest::ReadBytes(stub);
        if (!saved.empty()) { EXPECT_TRUE(::CopyFileW(program.c_str(), stub.c_str(), FALSE)) << ::GetLastError(); }
    }
    ~Browsers() {
        if (!saved.empty()) KelTest::WriteText(stub, saved);
    }
    std::string Launched() const {
        std::string text;
        KelTest::WaitUntil([&] { return !(text = KelTest::ReadBytes(record)).empty(); }, 10000);
        return text;
    }
    KelTest::TempFolder folder;
    std::wstring record = folder.Path() + L"launches.txt";
    KelTest::EnvironmentScope variable{L"KEL_LAUNCH_RECORD", record};
    RegistryScope choice{L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                         KelTest::OWN_VIEW, HKEY_CURRENT_USER};
    RegistryScope firefox{L"Software\\Mozilla\\Mozilla Firefox", KEY_WOW64_32KEY};   // on both architectures
    RegistryScope handler{L"http\\shell\\open\\command", KelTest::OWN_VIEW, HKEY_CLASSES_ROOT};
    RegistryScope iexplore{L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe", KelTest::OWN_VIEW};
    // Wine runs its own build of a program in the system folder, not the file
    // there, unless told otherwise; Windows has no such key.
    RegistryScope wineOverrides{L"Software\\Wine\\DllOverrides", KEY_WOW64_64KEY, HKEY_CURRENT_USER};
    std::wstring stub;
    std::string saved;
};

} // namespace

TEST_F(WorkspaceFrames, BrowserFramesTakeTheirCommand) {
    const std::string longUrl = "https://kel.test/" + std::string(300, 'p');
    const struct { const char* what; uint32_t id; JsonValue body; uint32_t code; std::wstring created; } cases[] = {
        {"navigate", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, {{"Url", "https://kel.test/"}, {"AutoNavigate", true}}, 0,
         L"create browser command=https://kel.test/ navigate=1"},
        {"navigate, long URL cut", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, {{"Url", longUrl}, {"AutoNavigate", 1}}, 0,
         L"create browser command=" + KelTest::Widen(longUrl.substr(0, 259)) + L" navigate=0"},
        {"record", KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD, {{"SiteId", 5.5}, {"Location", "https://kel.test/rec"}}, 0,
         L"create browser command=https://kel.test/rec navigate=0"},
        {"login", KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN, {{"RecordId", "42"}}, 0, L"create browser command=login\t42 navigate=0"},
        {"navigate without URL", KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE, JsonValue::object(),
         PROVIDER_RESULT_INVALID_PARAMETER, L""},
    };
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = threads.Announcements().size();
        EXPECT_EQ(c.code, Send(c.id, c.body));
        ASSERT_EQ(!c.created.empty(), KelTest::WaitUntil([&] { return threads.Announcements().size() > before; }, 
                                                          c.created.empty() ? 300 : 10000));
        if (c.created.empty()) continue;
        const KelTest::FrameThreads::Announcement frame = threads.Announcements().back();
        EXPECT_EQ(FRAME_KIND_POPUP, frame.kind);
        EXPECT_EQ(S_OK, frames->WaitForReadyState(frame.threadId, 0));   // its thread has run and written
        EXPECT_EQ(0u, Journal(frame.threadId).find(c.created + L"\n")) << KelTest::Narrow(Journal(frame.threadId));
        if (c.id == KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE) { EXPECT_EQ(frame.threadId, last["ThreadID"].get<DWORD>()); }
    }
    EXPECT_TRUE(log.Contains("CWorkspaceManager::DoNavigate: Error! Some required parameters are missing..."));
}

// The card is kept under the URL without its last "/", and asked for once;
// the browser gets the URL as it came, in quotes. Firefox from 3.5 can log in;
// an older one leaves it to Internet Explorer.
TEST_F(WorkspaceFrames, LoginInTheDefaultBrowser) {
    // byHandler: the URL's handler started, else Internet Explorer with the URL.
    const struct { const char* what; const wchar_t* progid; const wchar_t* firefox; bool byHandler; } cases[] = {
        {"Firefox 3.6", L"FirefoxURL", L"3.6.28 (en-US)", true},
        {"Firefox 3.0", L"FirefoxURL", L"3.0.19", false},
        {"another browser", L"OperaStable", L"3.6", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Browsers browsers(c.progid, c.firefox);
        ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_DEFAULT_BROWSER,
                           {{"PasscardId", "card-1"}, {"LoginUrl", "http://kel.test/login/"}}));
        const std::string launched = browsers.Launched();
        EXPECT_EQ(c.byHandler, launched.find("\" http ") != std::string::npos) << launched;
        EXPECT_NE(std::string::npos, launched.find(c.byHandler ? " http://kel.test/login/" : " \"http://kel.test/login/\""))
            << launched;
        for (const char* asked : {"http://kel.test/login/", "http://kel.test/login", "http://kel.test/login"}) {
            const bool answers = std::string(asked) == "http://kel.test/login" && !last.contains("PasscardId");
            ASSERT_EQ(0u, Send(KEL_PROVIDER_WORKSPACE_MSG_QUERY_PASSCARD_ID_BY_URL, {{"Url", asked}}));
            EXPECT_EQ(answers, last.contains("PasscardId")) << asked;
        }
    }
}

TEST_F(WorkspaceFrames, NewTabsAreTheAddOnsBusiness) {
    const JsonValue open = {{"TabId", "IE_7"}, {"OpenURL", "https://kel.test/a"}};
    const struct { uint32_t id; JsonValue body; uint32_t code; uint32_t broadcast; JsonValue sent; } cases[] = {
        {KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_BROWSER_NEW_TAB,
         {{"TabId", "IE_7"}, {"PasscardId", "c"}, {"LoginUrl", "https://kel.test/l"}}, 0, KEL_BROADCAST_LOGIN_IN_TAB,
         {{"TabId", "IE_7"}, {"LoginPagePath", "https://kel.test/l"}}},
        {KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_BROWSER_NEW_TAB, open, 0, KEL_BROADCAST_OPEN_IN_TAB, open},
    };
    for (const auto& c : cases) {
        const size_t before = controller.Calls().size();
        EXPECT_EQ(c.code, Send(c.id, c.body));
        if (!c.broadcast) { EXPECT_EQ(before, controller.Calls().size()); continue; }
        EXPECT_EQ(c.broadcast, controller.Calls().back()["message"].get<uint32_t>());
        EXPECT_EQ(c.sent, controller.Calls().back()["body"]);
    }
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
