#pragma once
// The processes of the cross-process tests: a server process (CIpcServer in
// front of a TestController) driven through its control messages, and
// listener processes that record every notification they receive. Each
// writes its debug log into a folder the test reads.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "IpcClient.h"
#include "TestController.h"
#include "TestSupport.h"

class ServerProcess {
public:
    // A unique pipe unless the test needs a product pipe.
    explicit ServerProcess(const std::wstring& pipe = KelTest::UniqueName(L"kelsrv"));
    ~ServerProcess();
    // Started and listening.
    bool Ready() const { return m_ready; }
    const std::wstring& Pipe() const { return m_pipe; }
    const KelTest::LogFolder& Log() const { return m_log; }

    uint32_t Broadcast(uint32_t messageId, const JsonValue& body);
    JsonValue State();
    int ListenerCount(uint32_t classId);
    bool WaitForListeners(uint32_t classId, int count, DWORD timeoutMs = 15000);
    DWORD Quit();

private:
    std::wstring m_pipe;
    KelTest::TempFolder m_logFolder;
    KelTest::LogFolder m_log;
    QvCommon::UniqueHandle m_quit;
    std::unique_ptr<KelTest::ChildProcess> m_process;
    bool m_ready = false;
    CIpcClient m_control;
};

class ListenerProcess {
public:
    // classes: comma-separated hexadecimal listener classes.
    ListenerProcess(const std::wstring& serverPipe, const std::wstring& classes);
    ~ListenerProcess();
    bool Ready() const { return m_ready; }
    const KelTest::LogFolder& Log() const { return m_log; }
    std::string NotifyPipe() const;
    // The recorded listener calls, "<class> <message id> <body>".
    std::vector<std::string> Calls() const;
    bool WaitForCalls(size_t count, DWORD timeoutMs = 10000) const;
    // Exit code: the notifications received.
    DWORD Quit();

private:
    std::vector<std::string> Lines() const;

    KelTest::TempFolder m_folder;      // the result file
    KelTest::TempFolder m_logFolder;
    KelTest::LogFolder m_log;
    std::wstring m_resultFile;
    QvCommon::UniqueHandle m_quit;
    std::unique_ptr<KelTest::ChildProcess> m_process;
    bool m_ready = false;
};

// A cold Wine process start can take seconds on a busy machine.
constexpr DWORD PROCESS_START_MS = 30000;
