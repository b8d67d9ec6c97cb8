#include <gtest/gtest.h>

#include "PipeServer.h"
#include "Synchronize.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Pattern(size_t size) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 + i / 251);
    return bytes;
}

// Writes the bytes as one connection: connect, write in chunks, close.
bool WriteOnce(const std::wstring& pipe, const std::vector<BYTE>& bytes) {
    CPipeClient client;
    if (!client.Initial(pipe.c_str())) return false;
    DWORD size = static_cast<DWORD>(bytes.size());
    bool sent = bytes.empty() || client.Send(bytes.data(), &size);
    return sent && size == bytes.size();
}

// A server on its own thread that gathers the given number of messages.
class Listener {
public:
    explicit Listener(size_t messages) : m_name(KelTest::UniqueName(L"kelpipe")) {
        m_stop.Create();
        std::promise<bool> ready;
        m_ready = ready.get_future();
        m_done = std::async(std::launch::async, [this, messages, p = std::move(ready)]() mutable {
            CPipeServer server;
            bool ok = server.Initial(m_name.c_str(), m_stop.Handle());
            p.set_value(ok);
            std::vector<std::string> received;
            while (ok && received.size() < messages) {
                std::string message;
                if (!server.FetchCmd(message)) { m_stopped = true; break; }
                received.push_back(message);
            }
            return received;
        });
    }
    bool Ready() { return m_ready.get(); }
    std::vector<std::string> Messages() { return m_done.get(); }
    void Stop() { m_stop.Set(); }
    const std::wstring& Name() const { return m_name; }
    bool Stopped() const { return m_stopped; }
private:
    std::wstring m_name;
    QvCommon::Synchronize::Event m_stop;
    std::future<bool> m_ready;
    std::future<std::vector<std::string>> m_done;
    bool m_stopped = false;
};

} // namespace

TEST(Pipe, MessagesArriveWholeOneConnectionEach) {
    struct Case {
        const char* what;
        size_t size;
    } cases[] = {
        {"connect and close without writing", 0},
        {"one byte", 1},
        {"exactly one chunk", 1024},
        {"2,500 bytes", 2500},
        {"600,000 bytes: one full gathering buffer and the rest", 600000},
    };
    Listener listener(std::size(cases));
    ASSERT_TRUE(listener.Ready());
    // The same instance takes every writer in turn, with no new Initialize.
    for (const Case& c : cases) EXPECT_TRUE(WriteOnce(listener.Name(), Pattern(c.size))) << c.what;
    std::vector<std::string> received = listener.Messages();
    ASSERT_EQ(std::size(cases), received.size());
    for (size_t i = 0; i < received.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        std::vector<BYTE> expected = Pattern(cases[i].size);
        ASSERT_EQ(expected.size(), received[i].size());
        EXPECT_EQ(0, std::memcmp(expected.data(), received[i].data(), expected.size()));
    }
}

TEST(Pipe, StopObjectEndsAWaitingFetch) {
    Listener listener(1);
    ASSERT_TRUE(listener.Ready());
    ::Sleep(100);
    listener.Stop();
    EXPECT_TRUE(listener.Messages().empty());
    EXPECT_TRUE(listener.Stopped());
}

// A writer that connects and then goes silent must not keep the server from
// stopping.
TEST(Pipe, StopObjectEndsAFetchFromASilentWriter) {
    Listener listener(1);
    ASSERT_TRUE(listener.Ready());
    CPipeClient silent;
    ASSERT_TRUE(silent.Initial(listener.Name().c_str()));
    BYTE first = 1;
    DWORD size = 1;
    ASSERT_TRUE(silent.Send(&first, &size));
    ::Sleep(200);
    listener.Stop();
    EXPECT_TRUE(listener.Messages().empty());
    EXPECT_TRUE(listener.Stopped());
}

TEST(Pipe, ClientOnMissingPipeFailsWithFileNotFound) {
    KelTest::CapturedLog log;
    CPipeClient client;
    ::SetLastError(0);
    EXPECT_FALSE(client.Initial(KelTest::UniqueName(L"nobody").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(log.Contains("CPipeClient::Initial"));   // silently: the caller decides
}

// The pipe has one instance; a second server on the same name finds it busy
// and gives up after six attempts 100 ms apart.
TEST(Pipe, SecondServerOnTheSameNameGivesUpAfterBusyRetries) {
    Listener first(1);
    ASSERT_TRUE(first.Ready());
    KelTest::CapturedLog log;
    QvCommon::Synchronize::Event stop;
    stop.Create();
    CPipeServer second;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.Initial(first.Name().c_str(), stop.Handle()));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 450);
    EXPECT_TRUE(log.Contains("CreateNamedPipe() failed 5 times due pipe busy. Aborted."));
    first.Stop();
}

TEST(Pipe, WritersQueueBehindABusyInstance) {
    const size_t writers = 4;
    Listener listener(writers);
    ASSERT_TRUE(listener.Ready());
    std::vector<std::future<bool>> sent;
    for (size_t i = 0; i < writers; ++i)
        sent.push_back(std::async(std::launch::async,
                                  [&, i] { return WriteOnce(listener.Name(), Pattern(3000 + i)); }));
    for (auto& s : sent) EXPECT_TRUE(s.get());
    std::vector<std::string> received = listener.Messages();
    ASSERT_EQ(writers, received.size());
    std::vector<size_t> sizes;
    for (auto& m : received) sizes.push_back(m.size());
    std::sort(sizes.begin(), sizes.end());
    for (size_t i = 0; i < writers; ++i) EXPECT_EQ(3000 + i, sizes[i]);
}
