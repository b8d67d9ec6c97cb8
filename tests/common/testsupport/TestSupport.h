#pragma once
// Helpers shared by the test programs: unique names, temporary folders and
// registry keys, child processes, and a debug log captured into a folder of
// the test's own so that tests can check the log lines the code writes.
#include <windows.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "QvHandle.h"

namespace KelTest {

// A name no other test of this run uses: base plus process id and a counter.
std::wstring UniqueName(const std::wstring& base);

// A fresh folder under the temp folder, removed with its files at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& Path() const { return m_path; }   // ends in "\"
private:
    std::wstring m_path;
};

// HKLM\Software\KelConsoleTests\<unique> in the 64-bit view (the view a
// 32-bit process under WOW64 reads its settings in), deleted at the end.
class TestRegistryKey {
public:
    TestRegistryKey();
    ~TestRegistryKey();
    const std::wstring& Path() const { return m_path; }
    void SetDword(const std::wstring& subkey, const std::wstring& name, DWORD value);
    void SetString(const std::wstring& subkey, const std::wstring& name, const std::wstring& value,
                   DWORD type = REG_SZ);
private:
    std::wstring m_path;
};

// Reads the log files that a process writes into a folder; for the log of
// this process (CapturedLog) and of child processes given the folder.
class LogFolder {
public:
    // path ends in "\\".
    explicit LogFolder(const std::wstring& path) : m_path(path) {}
    const std::wstring& Path() const { return m_path; }
    // Everything written so far, UTF-8 as the tracing library stores it.
    std::string Text() const;
    bool Contains(const std::string& needle) const { return Text().find(needle) != std::string::npos; }
    size_t Count(const std::string& needle) const;
    // Waits up to timeoutMs for a text to appear (count times at least).
    bool WaitFor(const std::string& needle, DWORD timeoutMs = 5000, size_t count = 1) const;
private:
    std::wstring m_path;
};

// Turns the process's debug log on for the life of the object, writing every
// level through the real tracing library: into a temp folder of its own, or
// into a folder the caller owns (a child process writing where its parent
// reads).
class CapturedLog {
public:
    explicit CapturedLog(DWORD level = 0x111);
    explicit CapturedLog(const std::wstring& folder, DWORD level = 0x111);
    ~CapturedLog();
    bool Initialized() const { return m_initialized; }
    std::string Text() const { return m_reader.Text(); }
    bool Contains(const std::string& needle) const { return m_reader.Contains(needle); }
    size_t Count(const std::string& needle) const { return m_reader.Count(needle); }
    bool WaitFor(const std::string& needle, DWORD timeoutMs = 5000, size_t count = 1) const {
        return m_reader.WaitFor(needle, timeoutMs, count);
    }
private:
    void Start(DWORD level);
    std::unique_ptr<TempFolder> m_ownFolder;   // none when the caller gave the folder
    LogFolder m_reader;
    TestRegistryKey m_key;
    bool m_initialized = false;
};

// A child process running one of the project's programs from the binary folder.
class ChildProcess {
public:
    enum class OutputMode { Inherit, Capture };
    // With OutputMode::Capture the child's standard output and error are kept
    // (UTF-8 or the console's code page, as the child writes them).
    ChildProcess(const std::wstring& program, const std::wstring& arguments,
                 OutputMode output = OutputMode::Inherit);
    ~ChildProcess();   // ends the child if it still runs
    bool Started() const { return m_process.valid(); }
    // Exit code, or STILL_ACTIVE when it did not end within the time.
    DWORD Wait(DWORD timeoutMs);
    HANDLE Handle() const { return m_process.get(); }
    // What the child wrote so far; complete once Wait has returned its exit code.
    std::string Output() const;
private:
    void ReadOutput();
    QvCommon::UniqueHandle m_process;
    QvCommon::UniqueHandle m_outputRead;
    std::thread m_reader;
    mutable std::mutex m_outputLock;
    std::string m_output;
};

// Waits for a named event (Local namespace) that a child signals when ready.
bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

} // namespace KelTest
