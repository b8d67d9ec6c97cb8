#include <gtest/gtest.h>

#include "Process.h"
#include "Synchronize.h"
#include "Version.h"

#include "TestSupport.h"

using KelTest::UniqueName;
using QvCommon::Synchronize::Event;

TEST(KernelObjectName, PrefixByNamespaceAndVersion) {
    using QvCommon::Synchronize::KernelObjectName;
    struct Case { const wchar_t* name; bool global; const wchar_t* expected; } cases[] = {
        {L"QVMTXAGENT", false, L"Local\\QVMTXAGENT"},
        {L"StopEvent_X", true, L"Global\\StopEvent_X"},
        {L"Local\\QVEVTAGENT", false, L"Local\\QVEVTAGENT"},
        {L"", true, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, KernelObjectName(c.name, c.global)) << c.name;

    QvCommon::Version::OverrideForTest({ERROR_ACCESS_DENIED, VER_PLATFORM_WIN32_NT, 6, 1});
    EXPECT_EQ(L"", KernelObjectName(L"QVMTXAGENT", false));
    QvCommon::Version::RestoreForTest();
}

TEST(Event, OnlyIfNewRefusesAnExistingName) {
    std::wstring name = UniqueName(L"KelEventTest");
    Event::Options options;
    options.global = options.onlyIfNew = true;
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
    EXPECT_TRUE(first.IsSignaled());
}
