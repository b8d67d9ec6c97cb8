#pragma once
// Waiting in tests: for a condition, for a named event, and measuring how long.
#include <windows.h>
#include <functional>
#include <string>
#include "QvHandle.h"

namespace KelTest {

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000, DWORD pollMs = 20);

// Milliseconds since construction or the last Restart.
class Stopwatch {
public:
    Stopwatch() { Restart(); }
    void Restart();
    double ElapsedMs() const;
private:
    LARGE_INTEGER m_start;
};

// A manual-reset event in the session's Local namespace, shared by name
// between a test and its helper processes: whichever side comes first
// creates it, the other opens it. The waiting side creates it before it
// starts the side that signals, so no signal goes into nothing.
class NamedEvent {
public:
    explicit NamedEvent(const std::wstring& name);   // name without "Local\"
    const std::wstring& Name() const { return m_name; }
    HANDLE Handle() const { return m_event.get(); }
    bool Valid() const { return m_event.valid(); }
    bool Set() { return ::SetEvent(m_event.get()) != FALSE; }
    bool Wait(DWORD timeoutMs) const { return ::WaitForSingleObject(m_event.get(), timeoutMs) == WAIT_OBJECT_0; }
private:
    std::wstring m_name;
    QvCommon::UniqueHandle m_event;
};

// A cold Wine process start can take seconds on a busy machine.
constexpr DWORD CHILD_START_MS = 30000;

} // namespace KelTest
