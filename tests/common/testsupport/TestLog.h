#pragma once
// The debug log as tests see it: the files the tracing library writes into a
// folder, and this process's own log captured for the life of an object.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "TestFiles.h"
#include "TestRegistry.h"

namespace KelTest {

// The log files that a process writes into a folder (this one's, or a child's
// given the folder).
class LogFolder {
public:
    explicit LogFolder(const std::wstring& path) : m_path(path) {}   // ends in "\"
    const std::wstring& Path() const { return m_path; }
    // Everything written so far, UTF-8 as the tracing library stores it.
    std::string Text() const { return ReadFolder(m_path); }
    bool Contains(const std::string& needle) const { return Text().find(needle) != std::string::npos; }
    size_t Count(const std::string& needle) const;
    // Waits up to timeoutMs for a text to appear (count times at least).
    bool WaitFor(const std::string& needle, DWORD timeoutMs = 5000, size_t count = 1) const;
private:
    std::wstring m_path;
};

// The log's settings for a folder: "Enable" = 1, "Level", "LogProcess" = 0,
// "LogUnitType" = 0 and "LogFolder". The log reads its values in this order
// and stops at the first one missing, so every value up to the folder is there.
std::vector<RegistryValue> LogSettings(DWORD level, const std::wstring& folder);

// Turns this process's debug log on for the life of the object, every level
// through the real tracing library: into a temp folder of its own, or into a
// folder the caller names (a child writing where its parent reads).
class CapturedLog : public LogFolder {
public:
    explicit CapturedLog(DWORD level = 0x111);
    explicit CapturedLog(const std::wstring& folder, DWORD level = 0x111);
    ~CapturedLog();
    // A test that checks log lines asserts this first, or it could pass on an
    // empty log.
    bool Initialized() const { return m_initialized; }
private:
    std::unique_ptr<TempFolder> m_ownFolder;   // none when the caller named the folder
    TestRegistryKey m_key;
    bool m_initialized = false;
    void Start(DWORD level);
    CapturedLog(std::unique_ptr<TempFolder> folder, DWORD level);
};

} // namespace KelTest
