#include <gtest/gtest.h>

#include "FrameThreads.h"
#include "SecureFrameConstants.h"
#include "TestSupport.h"

namespace {

using KelTest::Caption;
using KelTest::FrameComponent;

QvCommon::UniqueBstr Bstr(const std::wstring& text) {
    return QvCommon::UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

struct FrameTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(component.Loaded());
        ASSERT_EQ(S_OK, component.CreateManager(manager));
        ASSERT_EQ(S_OK, threads.Attach(manager.get()));
    }
    void TearDown() override { EXPECT_EQ(S_OK, manager.get()->Uninitialize()); }

    HWND Window(DWORD id) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, manager.get()->GetFrameHwnd(id, &window));
        return window;
    }

    KelTest::FrameThreads threads;
    FrameComponent component;
    QvCommon::UniqueCom<FrameManager> manager;
};

// Calls the slot of that index, as the agent's compiler does.
template <typename... Args>
HRESULT CallSlot(FrameManager* manager, int slot, Args... args) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(FrameManager*, Args...);
    return reinterpret_cast<Method>(reinterpret_cast<void***>(manager)[0][slot])(manager, args...);
}

} // namespace

TEST_F(FrameTest, AnswersInTheAgentsSlots) {
    FrameManager* m = manager.get();
    KelTest::FrameThreads other;
    EXPECT_EQ(S_OK, CallSlot(m, 7, other.ThreadId(), FRAME_NOTIFY_MESSAGE));
    DWORD id = 0;
    auto description = Bstr(L"{\"WindowTitle\":\"Slots\"}");
    EXPECT_EQ(S_OK, CallSlot(m, 10, description.get(), &id));
    EXPECT_TRUE(other.WaitAnnounced(id));
    EXPECT_EQ(S_OK, CallSlot(m, 14, id, DWORD(0)));
    HWND window = nullptr;
    EXPECT_EQ(S_OK, CallSlot(m, 22, id, &window));
    EXPECT_EQ(L"Slots", Caption(window));
    EXPECT_EQ(S_OK, CallSlot(m, 15, id));
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(S_OK, CallSlot(m, 16, id));
    EXPECT_FALSE(::IsWindowVisible(window));
    for (int gap : {9, 12, 17, 23, 24, 25}) EXPECT_EQ(E_NOTIMPL, CallSlot(m, gap)) << gap;
    QvCommon::UniqueCom<IUnknown> info;
    EXPECT_EQ(S_OK, CallSlot(m, 13, id, info.put()));
    EXPECT_EQ(S_OK, CallSlot(m, 18));
    EXPECT_TRUE(other.WaitEnded(id, SFRAME_CALL_WAIT_MS));
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(FRAME_E_NOT_FOUND, CallSlot(m, 14, id, DWORD(0)));
    IUnknown* none = nullptr;
    EXPECT_EQ(FRAME_E_NOT_FOUND, CallSlot(m, 13, id, &none));
    // The information object outlives its frame and is released once.
    EXPECT_EQ(0u, info.release()->Release());
    EXPECT_EQ(E_INVALIDARG, m->CreateUIFrame(Bstr(L"not json").get(), &id));
}

TEST_F(FrameTest, BrowserFramesAreCountedPopupsWhileTheyLive) {
    const std::wstring commands[] = {L"https://example.test/a", L"login\t42"};
    DWORD ids[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(S_OK, manager.get()->CreateBrowserFrame(Bstr(commands[i]).get(), &ids[i], i == 0));
        ASSERT_TRUE(threads.WaitAnnounced(ids[i]));
        ASSERT_EQ(S_OK, manager.get()->WaitForReadyState(ids[i], 0));
    }
    EXPECT_TRUE(::IsWindowVisible(Window(ids[0])));
    // The frame id is optional; the command has a length limit.
    EXPECT_EQ(S_OK, manager.get()->CreateBrowserFrame(Bstr(L"third").get(), nullptr, FALSE));
    EXPECT_EQ(E_INVALIDARG, manager.get()->CreateBrowserFrame(
                                Bstr(std::wstring(FRAME_COMMAND_MAX_CHARS + 1, L'x')).get(), nullptr, FALSE));
    EXPECT_EQ(S_OK, manager.get()->CreateUIFrame(Bstr(L"{}").get(), &ids[1]));   // not a pop-up
    LONG count = 0;
    EXPECT_TRUE(KelTest::WaitUntil([&] { return SUCCEEDED(manager.get()->GetPopupCount(&count)) && count == 3; }));
    // The user closes one.
    ::PostMessageW(Window(ids[0]), WM_CLOSE, 0, 0);
    EXPECT_TRUE(KelTest::WaitUntil([&] { return SUCCEEDED(manager.get()->GetPopupCount(&count)) && count == 2; }));
}

TEST(FrameComponent, UnloadsOnlyWhenNothingLives) {
    FrameComponent component;
    ASSERT_TRUE(component.Loaded());
    const auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"SecureFrame.dll"), "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_EQ(S_OK, canUnloadNow());
    // A manager released with a frame whose thread has not run yet: the
    // thread holds the library until it has run to its end.
    KelTest::FrameThreads holding(KelTest::FrameThreads::Adopt::Hold);
    QvCommon::UniqueCom<FrameManager> manager;
    ASSERT_EQ(S_OK, component.CreateManager(manager));
    ASSERT_EQ(S_OK, holding.Attach(manager.get()));
    IFrameInspector* inspector = nullptr;
    ASSERT_EQ(S_OK, manager.get()->QueryInterface(IID_IFrameInspector, reinterpret_cast<void**>(&inspector)));
    EXPECT_EQ(1u, inspector->Release());
    DWORD id = 0;
    ASSERT_EQ(S_OK, manager.get()->CreateUIFrame(Bstr(L"{}").get(), &id));
    ASSERT_TRUE(holding.WaitAnnounced(id));
    manager.reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    ASSERT_TRUE(holding.Resume(id));
    EXPECT_TRUE(holding.WaitEnded(id, SFRAME_CALL_WAIT_MS));
    EXPECT_TRUE(KelTest::WaitUntil([&] { return canUnloadNow() == S_OK; }));
}

// A journal keeps its newest whole lines; a closed frame leaves the table at
// the next launch, and its journal stays readable.
TEST_F(FrameTest, AClosedFrameKeepsTheNewestLinesOfItsJournal) {
    DWORD id = 0, next = 0;
    ASSERT_EQ(S_OK, manager.get()->CreateUIFrame(Bstr(L"{}").get(), &id));
    ASSERT_TRUE(threads.WaitAnnounced(id));
    const std::wstring line(SFRAME_JOURNAL_MAX_CHARS / 3, L'x');
    for (wchar_t mark : {L'a', L'b', L'c', L'd'})
        ASSERT_EQ(S_OK, manager.get()->FrameExecScript(id, Bstr(mark + line).get()));
    ::PostMessageW(Window(id), WM_CLOSE, 0, 0);
    ASSERT_TRUE(threads.WaitEnded(id, SFRAME_CALL_WAIT_MS));
    ASSERT_EQ(S_OK, manager.get()->CreateUIFrame(Bstr(L"{}").get(), &next));
    ASSERT_NE(id, next);
    EXPECT_EQ(L"script c" + line + L"\nscript d" + line + L"\nclose\n", FrameComponent::Journal(manager.get(), id));
}
