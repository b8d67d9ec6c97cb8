// The clipboard read back by another process, the user's folders, the real
// open-file dialog, and the dialog's filter label from the string table.
#include <gtest/gtest.h>

#include <thread>
#include "Folders.h"
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

TEST(DesktopServices, ClipboardHoldsTheTextForOtherProcesses) {
    Workspace workspace;
    const char* texts[] = {"plain", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9d\x84\x9e", ""};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        JsonValue body = {{"CopyData", text}};
        EXPECT_EQ(0u, workspace.Send(KEL_PROVIDER_WORKSPACE_MSG_COPY_DATA_TO_CLIPBOARD, body));
        EXPECT_EQ(text, ClipboardSeenByAnotherProcess());
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
        std::thread user([&] {
            Wanted dialog{L"#32770", nullptr}, edit{L"Edit", nullptr};   // the file-name box
            if (!KelTest::WaitUntil([&] { return !::EnumThreadWindows(thread, FindByClass, LPARAM(&dialog)); }, 10000))
                return;   // the test fails on the reply
            ::EnumChildWindows(dialog.found, FindByClass, LPARAM(&edit));
            if (c.accept) ::SendMessageW(edit.found, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(picked.c_str()));
            ::PostMessageW(dialog.found, WM_COMMAND, c.accept ? IDOK : IDCANCEL, 0);
            // A dialog that did not take the answer is closed, so that the
            // test fails on the reply rather than hang.
            if (!KelTest::WaitUntil([&] { return !::IsWindow(dialog.found); }, 5000))
                ::PostMessageW(dialog.found, WM_COMMAND, IDCANCEL, 0);
        });
        JsonValue body = c.body;
        EXPECT_EQ(0u, workspace.Send(KEL_PROVIDER_WORKSPACE_MSG_GET_OPEN_FILE_NAME, body));
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
        const wchar_t* filter = workspace.provider.GetManager()->GetOpenFileFilter();
        const std::wstring expected = c.label + L'\0' + L"*.*" + L'\0' + L"CSV" + L'\0' + L"*.CSV" + L'\0' + L'\0';
        EXPECT_EQ(expected, std::wstring(filter, expected.size()));
    }
}
