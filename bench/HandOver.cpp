#include "HandOver.h"

HandOver::HandOver(std::function<void(const std::string&)> deliver)
    : m_deliver(std::move(deliver)), m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_thread([this] { Run(); }) {}

HandOver::~HandOver() {
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        m_done = true;
    }
    ::SetEvent(m_wake.get());
    m_thread.join();
}

void HandOver::Give(const std::string& message) {
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        m_messages.push_back(message);
    }
    ::SetEvent(m_wake.get());
}

void HandOver::Run() {
    while (::WaitForSingleObject(m_wake.get(), INFINITE) == WAIT_OBJECT_0) {
        for (;;) {
            std::string message;
            {
                QvCommon::Synchronize::AutoLock lock(m_lock);
                if (m_messages.empty()) {
                    if (m_done) return;
                    break;
                }
                message = std::move(m_messages.front());
                m_messages.pop_front();
            }
            m_deliver(message);
        }
    }
}
