#include <gtest/gtest.h>

#include "Process.h"
#include "Synchronize.h"
#include "Version.h"

#include <atomic>
#include <thread>

using QvCommon::Synchronize::AutoLock;
using QvCommon::Synchronize::CriticalSection;
using QvCommon::Synchronize::Event;
using QvCommon::Synchronize::Mutex;

namespace {
std::wstring UniqueName(const wchar_t* base) {
    return std::wstring(base) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::GetTickCount());
}
} // namespace

TEST(KernelObjectName, PrefixByNamespaceAndVersion) {
    using QvCommon::Synchronize::KernelObjectName;
    struct Case {
        const wchar_t* name;
        bool global;
        const wchar_t* expected;
    } cases[] = {
        {L"QVMTXAGENT", false, L"Local\\QVMTXAGENT"},
        {L"StopEvent_X", true, L"Global\\StopEvent_X"},
        {L"Local\\QVEVTAGENT", false, L"Local\\QVEVTAGENT"},
        {L"Global\\Q", true, L"Global\\Q"},
        {L"", true, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, KernelObjectName(c.name, c.global)) << c.name;

    QvCommon::Version::OverrideForTest({0, VER_PLATFORM_WIN32_NT, 4, 0});
    EXPECT_EQ(L"QVMTXAGENT", KernelObjectName(L"QVMTXAGENT", false));
    QvCommon::Version::OverrideForTest({ERROR_ACCESS_DENIED, VER_PLATFORM_WIN32_NT, 6, 1});
    EXPECT_EQ(L"", KernelObjectName(L"QVMTXAGENT", false));
    QvCommon::Version::RestoreForTest();
}

TEST(RuntimeBound, SessionNotificationNeedsXp) {
    QvCommon::Version::OverrideForTest({0, VER_PLATFORM_WIN32_NT, 5, 0});
    DWORD error = 0;
    EXPECT_FALSE(QvCommon::Process::RegisterSessionNotification(nullptr, 0, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), error);
    EXPECT_FALSE(QvCommon::Process::UnregisterSessionNotification(nullptr, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), error);
    QvCommon::Version::OverrideForTest({ERROR_ACCESS_DENIED, VER_PLATFORM_WIN32_NT, 6, 1});
    EXPECT_EQ(0xFFFFFFFFu, QvCommon::Process::GetCurrentSessionId(&error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
    QvCommon::Version::RestoreForTest();
}

TEST(RuntimeBound, SessionAndTokenOfThisProcess) {
    DWORD error = 1;
    DWORD session = QvCommon::Process::GetCurrentSessionId(&error);
    EXPECT_EQ(0u, error);
    DWORD expected = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &expected));
    EXPECT_EQ(expected, session);
    EXPECT_FALSE(QvCommon::Process::IsLowIntegrity());
    std::wstring text;
    GUID guid = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
    EXPECT_EQ(S_OK, QvCommon::String::GuidToText(guid, text));
    EXPECT_EQ(L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", text);
}

TEST(Event, OnlyIfNewRefusesAnExistingName) {
    std::wstring name = UniqueName(L"KelEventTest");
    Event::Options options;
    options.global = true;
    options.onlyIfNew = true;
    Event first;
    ASSERT_TRUE(first.Create(name, options));
    Event second;
    EXPECT_FALSE(second.Create(name, options));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ::GetLastError());
    EXPECT_FALSE(second.IsValid());

    // Without the option the same name opens the existing event.
    options.onlyIfNew = false;
    Event third;
    ASSERT_TRUE(third.Create(name, options));
    EXPECT_FALSE(first.IsSignaled());
    ASSERT_TRUE(third.Set());
    EXPECT_TRUE(first.IsSignaled());   // manual reset: stays signalled
    EXPECT_TRUE(first.IsSignaled());
    ASSERT_TRUE(first.Reset());
    EXPECT_FALSE(third.IsSignaled());
}

TEST(Event, UnnamedEventsAreIndependent) {
    Event a, b;
    ASSERT_TRUE(a.Create());
    ASSERT_TRUE(b.Create());
    a.Set();
    EXPECT_TRUE(a.IsSignaled());
    EXPECT_FALSE(b.IsSignaled());
}

TEST(Mutex, NamedMutexExcludesOtherThreads) {
    std::wstring name = UniqueName(L"KelMutexTest");
    Mutex mine;
    ASSERT_TRUE(mine.Create(name, false));
    ASSERT_EQ(WAIT_OBJECT_0, mine.Lock());
    DWORD otherResult = 0;
    std::thread other([&] {
        Mutex theirs;
        ASSERT_TRUE(theirs.Create(name, false));
        otherResult = theirs.Lock(50);
    });
    other.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), otherResult);
    EXPECT_TRUE(mine.Unlock());
}

TEST(CriticalSection, ReentrantAndExclusive) {
    CriticalSection lock;
    std::atomic<int> inside{0};
    int maxInside = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            AutoLock outer(lock);
            AutoLock inner(lock);   // the owner may enter again
            int now = ++inside;
            if (now > maxInside) maxInside = now;
            --inside;
        }
    };
    std::thread t1(work), t2(work), t3(work);
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(1, maxInside);
}
