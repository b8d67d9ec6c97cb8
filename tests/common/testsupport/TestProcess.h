#pragma once
// A child process running one of the project's programs, ended at the end of
// the test if it still runs.
#include <windows.h>
#include <mutex>
#include <string>
#include <thread>
#include "QvHandle.h"
#include "TestWait.h"

namespace KelTest {

struct ChildOptions {
    // Keep the child's standard output and error (as the child writes them).
    bool capture = false;
    // Where the program is: empty for ProgramFolder(); ends in "\".
    std::wstring programFolder;
    // The child's current folder: empty for the program's folder.
    std::wstring workingFolder;

    ChildOptions& Capture() { capture = true; return *this; }
    ChildOptions& From(const std::wstring& folder) { programFolder = folder; return *this; }
    ChildOptions& In(const std::wstring& folder) { workingFolder = folder; return *this; }
};

class ChildProcess {
public:
    ChildProcess(const std::wstring& program, const std::wstring& arguments,
                 const ChildOptions& options = ChildOptions());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_process.valid(); }
    bool Running() const { return Started() && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT; }
    // Exit code, or STILL_ACTIVE when it did not end within the time.
    DWORD Wait(DWORD timeoutMs);
    // For a child that signals the event once it serves: true when it did
    // within the time and still runs. The event must exist before the child
    // was started.
    bool WaitReady(const NamedEvent& ready, DWORD timeoutMs = CHILD_START_MS) const;
    HANDLE Handle() const { return m_process.get(); }
    DWORD Id() const { return m_id; }
    // What the child wrote so far; complete once Wait has returned its exit code.
    std::string Output() const;

private:
    void ReadOutput();
    QvCommon::UniqueHandle m_process;
    DWORD m_id = 0;
    QvCommon::UniqueHandle m_outputRead;
    std::thread m_reader;
    mutable std::mutex m_outputLock;
    std::string m_output;
};

} // namespace KelTest
