#include <gtest/gtest.h>

#include "Synchronize.h"
#include "TestProcesses.h"

#include <aclapi.h>
#include <sddl.h>
#include <cstring>
#include <future>
#include <memory>

namespace {

std::vector<BYTE> Pattern(size_t size) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 + i / 251);
    return bytes;
}

// A server that listens from construction on and gathers the given number
// of messages on a thread of its own. stopped is set when the stop object
// ended a fetch; read it after Messages.
struct Listener {
    explicit Listener(size_t messages) {
        ready = stopEvent.Create() && server.Initial(name.c_str(), stopEvent.Handle());
        done = std::async(std::launch::async, [this, messages] {
            std::vector<std::string> received;
            for (std::string message; ready && received.size() < messages; received.push_back(message))
                if (!server.FetchCmd(message)) { stopped = true; break; }
            return received;
        });
    }
    ~Listener() { Stop(); }   // a test that failed early does not wait for writers
    // What arrived; a server still waiting after ten seconds is stopped.
    std::vector<std::string> Messages() {
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) Stop();
        return done.get();
    }
    void Stop() { stopEvent.Set(); }
    const std::wstring name = KelTest::UniqueName(L"kelpipe");
    bool ready = false;
    bool stopped = false;
    QvCommon::Synchronize::Event stopEvent;
    CPipeServer server;
    std::future<std::vector<std::string>> done;   // last: the thread ends before the rest goes
};

} // namespace

TEST(Pipe, MessagesArriveWholeOneConnectionEach) {
    const struct Case { const char* what; size_t size; } cases[] = {
        {"connect and close without writing", 0}, {"one byte", 1}, {"exactly one chunk", 1024},
        {"2,500 bytes", 2500}, {"600,000 bytes: one full gathering buffer and the rest", 600000},
    };
    Listener listener(std::size(cases));
    ASSERT_TRUE(listener.ready);
    // The same instance takes every writer in turn, with no new Initialize.
    for (const Case& c : cases) EXPECT_TRUE(WriteOnce(listener.name, Pattern(c.size))) << c.what;
    std::vector<std::string> received = listener.Messages();
    ASSERT_EQ(std::size(cases), received.size());
    for (size_t i = 0; i < received.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        std::vector<BYTE> expected = Pattern(cases[i].size);
        ASSERT_EQ(expected.size(), received[i].size());
        EXPECT_EQ(0, std::memcmp(expected.data(), received[i].data(), expected.size()));
    }
}

// A writer that connects and then goes silent must not keep the server from
// stopping. (A fetch that waits for a writer ends by its stop object whenever
// a query's watchdog fires: the peer's tests.)
TEST(Pipe, StopObjectEndsAFetchFromASilentWriter) {
    Listener listener(1);
    ASSERT_TRUE(listener.ready);
    CPipeClient silent;
    BYTE first = 1;
    DWORD size = 1;
    ASSERT_TRUE(silent.Initial(listener.name.c_str()) && silent.Send(&first, &size));
    ::Sleep(200);   // so that the fetch is likely to be reading already; it ends either way
    listener.Stop();
    EXPECT_TRUE(listener.Messages().empty());
    EXPECT_TRUE(listener.stopped);
}

// A reader that takes nothing cannot hold a writer: the pipe takes the first
// chunk, and the write of the second is given up at the writer's time limit.
TEST(Pipe, AWriteEndsAtItsTimeLimitWhenTheReaderTakesNothing) {
    const std::wstring name = KelTest::UniqueName(L"kelnoreader");
    QvCommon::Synchronize::Event stop;
    CPipeServer reader;   // listens and never fetches
    ASSERT_TRUE(stop.Create() && reader.Initial(name.c_str(), stop.Handle()));
    CPipeClient writer(300);
    ASSERT_TRUE(writer.Initial(name.c_str()));
    std::vector<BYTE> bytes(4 * IPC_PIPE_CHUNK, 7);
    DWORD size = static_cast<DWORD>(bytes.size());
    KelTest::Stopwatch watch;
    EXPECT_FALSE(writer.Send(bytes.data(), &size));
    EXPECT_EQ(IPC_PIPE_CHUNK, size);
    EXPECT_GE(watch.ElapsedMs(), 250);
    EXPECT_LT(watch.ElapsedMs(), 3000);
}

// Every caller may open the listening pipe (a null access list), and so may a
// low-integrity process (a low mandatory label; its policy is no-execute-up,
// mask 0x4, as the product sets it). Wine 8.0 stores the label and gives it
// back, so the whole check runs there too. A write from a low-integrity
// process is not tried: under Wine every process runs at high integrity,
// SetTokenInformation(TokenIntegrityLevel) succeeds without changing the
// token, and CreateProcessAsUser starts the child at high integrity all the same.
TEST(Pipe, ListeningPipeHasANullAccessListAndALowIntegrityLabel) {
    Listener listener(1);
    ASSERT_TRUE(listener.ready);
    QvCommon::UniqueHandle pipe(::CreateFileW((L"\\\\.\\pipe\\" + listener.name).c_str(),
                                              READ_CONTROL | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(pipe.valid()) << ::GetLastError();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ACL* dacl = reinterpret_cast<ACL*>(1);   // must come back null
    ACL* label = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, &label, &descriptor));
    std::unique_ptr<void, HLOCAL(WINAPI*)(HLOCAL)> owned(descriptor, &::LocalFree);
    EXPECT_EQ(nullptr, dacl);
    BOOL present = FALSE, defaulted = FALSE;
    EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present && !dacl);   // a null list that is present: everyone, not "no list given"
    ASSERT_TRUE(label && label->AceCount == 1);
    SYSTEM_MANDATORY_LABEL_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(label, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(SYSTEM_MANDATORY_LABEL_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP), ace->Mask);
    PSID low = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-16-4096", &low));
    EXPECT_TRUE(::EqualSid(low, &ace->SidStart));
    ::LocalFree(low);
    pipe.reset();   // the server's one message: this empty connection
    EXPECT_EQ(1u, listener.Messages().size()) << "listener stopped: " << listener.stopped;
}
