#pragma once
// A second thread that takes each message from the thread that read it, with
// one event signal and one wait per message, as the IPC library hands a
// received query to its pool and a notification to its broker's speaker.
// The raw baselines use it to show what that hand-over costs by itself.
#include <windows.h>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include "QvHandle.h"
#include "Synchronize.h"

class HandOver {
public:
    explicit HandOver(std::function<void(const std::string&)> deliver);
    // Delivers what was given and ends the thread.
    ~HandOver();
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    void Give(const std::string& message);

private:
    void Run();

    std::function<void(const std::string&)> m_deliver;
    QvCommon::Synchronize::CriticalSection m_lock;
    std::deque<std::string> m_messages;
    bool m_done = false;
    QvCommon::UniqueHandle m_wake;
    std::thread m_thread;   // last: it starts when the rest is there
};
