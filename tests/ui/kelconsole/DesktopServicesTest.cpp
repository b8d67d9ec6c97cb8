// The clipboard read back by another process, the user's folders as the
// shell names them, the real open-file dialog, and the dialog's filter label
// from the string table.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <thread>
#include "MockFrameManager.h"
#include "ProductKeys.h"
#include "ProviderMessages.h"
#include "TestSupport.h"
#include "WorkspaceProvider.h"

namespace {

// A workspace whose windows are never asked for.
struct Workspace {
    ::testing::NiceMock<MockFrameManager> frames;
    KelTest::CannedController controller{0, JsonValue::object()};
    CWorkspaceProvider provider{&controller, &frames, nullptr};
    uint32_t Send(uint32_t id, JsonValue& body) { return provider.MessageProc(id, body); }
};

// The clipboard's text as another process reads it; "-" when it holds none.
std::string ClipboardSeenByAnotherProcess() {
    KelTest::ChildProcess reader(L"clipboard_helper.exe", L"", KelTest::ChildOptions().Capture());
    const DWORD code = reader.Wait(KelTest::CHILD_START_MS);
    return code == 0 ? reader.Output() : code == 2 ? "-" : "exit " + std::to_string(code);
}

// The first visible window of a class, among a thread's windows or a
// window's descendants.
struct Wanted { const wchar_t* className; HWND found; };
BOOL CALLBACK FindByClass(HWND window, LPARAM wanted) {
    auto* w = reinterpret_cast<Wanted*>(wanted);
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (wcscmp(name, w->className) != 0 || !::IsWindowVisible(window)) return TRUE;
    w->found = window;
    return FALSE;
}

} // namespace

// The clipboard's text as another process reads it; one folder per request,
// the desktop first, and a key that is no string is not a question.
TEST(DesktopServices, ClipboardAndFoldersForOtherProcesses) {
    const uint32_t COPY = KEL_PROVIDER_WORKSPACE_MSG_COPY_DATA_TO_CLIPBOARD, PATH = KEL_PROVIDER_WORKSPACE_MSG_GET_SPECIAL_PATH;
    // The folders as the shell itself names them, with the "\\" the workspace adds.
    wchar_t desktop[MAX_PATH] = {}, documents[MAX_PATH] = {};
    ASSERT_EQ(S_OK, ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop));
    ASSERT_EQ(S_OK, ::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents));
    const std::string DESKTOP = KelJson::ToUtf8(desktop) + "\\", DOCUMENTS = KelJson::ToUtf8(documents) + "\\";
    Workspace workspace;
    // reply: null for the body as it went.
    const struct { const char* what; uint32_t id; JsonValue body, reply; } cases[] = {
        {"plain text", COPY, {{"CopyData", "plain"}}, nullptr},
        {"beyond ASCII", COPY, {{"CopyData", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9d\x84\x9e"}}, nullptr},
        {"empty text", COPY, {{"CopyData", ""}}, nullptr},
        {"both folders", PATH, {{"Desktop", "x"}, {"MyDocument", "y"}}, {{"Desktop", DESKTOP}, {"MyDocument", "y"}}},
        {"desktop no string", PATH, {{"Desktop", 1}, {"MyDocument", ""}}, {{"Desktop", 1}, {"MyDocument", DOCUMENTS}}},
        {"documents no string", PATH, {{"MyDocument", true}}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JsonValue body = c.body;
        EXPECT_EQ(0u, workspace.Send(c.id, body));
        EXPECT_EQ(c.reply.is_null() ? c.body : c.reply, body);
        if (c.id == COPY) { EXPECT_EQ(c.body["CopyData"].get<std::string>(), ClipboardSeenByAnotherProcess()); }
    }
}

// The dialog is driven from another thread as a user would: a file typed in
// and accepted, or the dialog cancelled. The first filter is the localised
// "all files" label.
TEST(DesktopServices, OpenFileDialogGivesThePickedFile) {
    KelTest::TempFolder folder;
    const std::wstring picked = folder.Path() + L"import.csv";
    ASSERT_TRUE(KelTest::WriteText(picked, "a,b\r\n"));
    Workspace workspace;
    const struct { const char* what; JsonValue body; bool accept; JsonValue reply; } cases[] = {
        {"picked", {{"OpenFile", KelJson::ToUtf8(folder.Path())}}, true, {{"OpenFile", KelJson::ToUtf8(picked)}}},
        {"cancelled", {{"OpenFile", "start.csv"}}, false, {{"OpenFile", "start.csv"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DWORD thread = ::GetCurrentThreadId();
        std::atomic<bool> answered{false};
        // Answers the dialog however late it shows, then closes whatever dialog
        // is left (one that did not take the answer, or its message) until the
        // request is answered: the test fails on the reply rather than hang.
        std::thread user([&] {
            for (bool told = false;; told = true) {
                Wanted dialog{L"#32770", nullptr}, edit{L"Edit", nullptr};   // the file-name box
                KelTest::WaitUntil([&] { return answered || !::EnumThreadWindows(thread, FindByClass, LPARAM(&dialog)); }, INFINITE);
                if (answered) return;
                ::EnumChildWindows(dialog.found, FindByClass, LPARAM(&edit));
                if (c.accept && !told) ::SendMessageW(edit.found, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(picked.c_str()));
                ::PostMessageW(dialog.found, WM_COMMAND, c.accept && !told ? IDOK : IDCANCEL, 0);
                KelTest::WaitUntil([&] { return answered || !::IsWindow(dialog.found); }, 5000);
            }
        });
        JsonValue body = c.body;
        EXPECT_EQ(0u, workspace.Send(KEL_PROVIDER_WORKSPACE_MSG_GET_OPEN_FILE_NAME, body));
        answered = true;
        user.join();
        EXPECT_EQ(c.reply, body);
    }
}

TEST(DesktopServices, FilterLabelComesFromTheStringTable) {
    const std::wstring limit(180, L'L');
    const struct { const char* what; std::wstring table; std::wstring label; } cases[] = {
        {"180 characters", L"[Global]\r\nR_ALLFILES=" + limit + L"\r\n[KEL_CONSOLE]\r\n", limit},
        {"181 characters", L"[Global]\r\nR_ALLFILES=" + limit + L"L\r\n[KEL_CONSOLE]\r\n", L"All"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::LanguageTable language(KelTest::ProgramFolder(), c.table);
        KelTest::RegistryScope product(QV_PRODUCT_KEY);
        ASSERT_TRUE(product.SetString(QV_VALUE_LANGUAGE, language.Name()));
        Workspace workspace;
        const std::wstring expected = c.label + L'\0' + L"*.*" + L'\0' + L"CSV" + L'\0' + L"*.CSV" + L'\0' + L'\0';
        EXPECT_EQ(expected, std::wstring(workspace.provider.GetManager()->GetOpenFileFilter(), expected.size()));
    }
}
