// Child processes started, waited for or not, and the minidump that a crash
// leaves in the debug log's folder.
#include <gtest/gtest.h>

#include <thread>

#include "CrashDump.h"
#include "ProcessLauncher.h"
#include "ProductKeys.h"
#include "TestSupport.h"

using QvCommon::Process::InvokeProcess;
using QvCommon::Process::Show;

namespace {

const std::wstring PROBE = L"\"" + KelTest::ProgramFolder() + L"crash_probe.exe\" ";
// Wine writes a full-memory dump of even a small program (over 200 MB) at a
// few MB a second.
constexpr DWORD FULL_DUMP_MS = 180000;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++*reinterpret_cast<int*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

TEST(ProcessLauncher, WaitsOrNotAndSaysWhy) {
    // A window of this thread counts what reaches it while the caller waits.
    int dispatched = 0;
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&dispatched));
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc));
    const struct {
        const char* what; std::wstring command; bool wait, pump; Show show; DWORD timeout;
        bool result; DWORD exitCode, error; int dispatched;
    } cases[] = {
        {"waited", PROBE + L"exit 7", true, false, Show::Default, 30000, true, 7, 0, 0},
        // A message that arrives during the wait is dispatched too.
        {"waited, pumping", PROBE + L"sleep 1500", true, true, Show::Hidden, 30000, true, 0, 0, 2},
        {"not waited", PROBE + L"sleep 3000", false, false, Show::Shown, 0, true, 0xDEAD, 0, 0},
        {"outlives the time-out", PROBE + L"sleep 5000", true, true, Show::Default, 300, false, 0xDEAD, WAIT_TIMEOUT, 1},
        {"no such program", L"kel_no_such_program.exe", true, false, Show::Default, 1000, false, 0xDEAD,
         ERROR_FILE_NOT_FOUND, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dispatched = 0;
        ::PostMessageW(window, WM_APP, 0, 0);
        DWORD exitCode = 0xDEAD, error = 0xDEAD;
        std::thread late;
        if (c.dispatched == 2) late = std::thread([window] { ::Sleep(500); ::PostMessageW(window, WM_APP, 0, 0); });
        EXPECT_EQ(c.result, InvokeProcess(c.command, c.wait, c.pump, c.show, c.timeout, &exitCode, &error));
        if (late.joinable()) late.join();
        EXPECT_EQ(c.exitCode, exitCode);
        EXPECT_EQ(c.error, error);
        EXPECT_EQ(c.dispatched, dispatched) << "the posted message, dispatched only while pumping";
        MSG left;
        while (::PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {}
    }
    ::DestroyWindow(window);
}

TEST(CrashDump, NamedByTheLocalTimeAndTheProgram) {
    const SYSTEMTIME time = {2026, 12, 5, 4, 18, 33, 0, 0};
    QvCommon::Exception::SEH& writer = QvCommon::Exception::SEH::Instance();
    for (const std::wstring folder : {L"", L"C:\\Dumps\\"}) {
        writer.SetDumpFolder(folder);
        EXPECT_EQ(folder + L"20261204_183300_crash_dump_tests.dmp", writer.DumpFileName(time));
    }
}

// A crash leaves a normal dump, or a full-memory one when "DumpType" is set,
// named by the local time, and the process still ends with its exception.
// The system's handling after the dump starts the registered debugger (Wine's
// own one otherwise, which keeps the process alive); here it is a program that
// ends at once. Wine gives a process the time zone of the Unix TZ it was
// started with, not of the environment block its Windows parent passes (nor
// of the registry), so ctest runs this program with TZ set east of UTC.
TEST(CrashDump, ACrashLeavesADumpOfTheConfiguredKind) {
    SYSTEMTIME local, utc;
    ::GetLocalTime(&local); ::GetSystemTime(&utc);
    ASSERT_NE(local.wHour, utc.wHour) << "needs a time zone other than UTC";
    QvCommon::Exception::SEH::Instance().SetDumpFolder(L"");
    auto stamp = [] {   // the date and time of a name, as the test above holds them
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        return QvCommon::Exception::SEH::Instance().DumpFileName(now).substr(0, 15);
    };
    const wchar_t* const aeDebug = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
    KelTest::RegistryScope debugger64(aeDebug), debugger32(aeDebug, KEY_WOW64_32KEY);
    const std::wstring quick = PROBE + L"exit 0 %ld %ld";
    ASSERT_TRUE(debugger64.SetString(L"Debugger", quick) && debugger32.SetString(L"Debugger", quick) &&
                debugger64.SetString(L"Auto", L"1") && debugger32.SetString(L"Auto", L"1"));
    for (DWORD dumpType : {0u, 1u}) {
        SCOPED_TRACE(dumpType);
        KelTest::TempFolder folder;
        KelTest::RegistryScope log(QV_DEBUGLOG_KEY);
        ASSERT_TRUE(log.SetDword(QV_VALUE_DUMP_TYPE, dumpType) &&
                    log.SetString(QV_VALUE_LOG_FOLDER, folder.Path().substr(0, folder.Path().size() - 1),
                                  QV_DEBUGLOG_INTERACTIVE));
        const std::wstring before = stamp();
        KelTest::ChildProcess probe(L"crash_probe.exe", L"crash");
        EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
                  probe.Wait(dumpType ? FULL_DUMP_MS : KelTest::CHILD_START_MS));
        const std::wstring after = stamp();
        const std::vector<std::wstring> files = KelTest::FileNames(folder.Path());
        ASSERT_EQ(1u, files.size()) << (files.empty() ? std::string() : KelTest::Narrow(files.back()));
        EXPECT_TRUE(before <= files[0].substr(0, 15) && files[0].substr(0, 15) <= after)
            << KelTest::Narrow(before + L" " + files[0] + L" " + after);
        EXPECT_EQ(L"_crash_probe.dmp", files[0].substr(15));
        const std::string dump = KelTest::ReadBytes(folder.Path() + files[0]);
        ASSERT_GE(dump.size(), 32u);
        EXPECT_EQ("MDMP", dump.substr(0, 4));
        ULONG64 flags = 0;
        memcpy(&flags, dump.data() + 24, sizeof(flags));   // MINIDUMP_HEADER.Flags: the dump's type
        EXPECT_EQ(dumpType ? 2u : 0u, flags);   // MiniDumpWithFullMemory, or MiniDumpNormal
    }
}
