#pragma once
// Registration with the security platform's anti-tamper protection while the
// main loop runs. No platform client is installed with this build, so the
// helper only says so; the agent runs the same either way.
#include "QvLog.h"

class CSelfProtection {
public:
    CSelfProtection() = default;
    ~CSelfProtection() {
        if (m_started) QVLOG(QVLOG_INFO, L"CSelfProtection: Stopped.");
    }
    CSelfProtection(const CSelfProtection&) = delete;
    CSelfProtection& operator=(const CSelfProtection&) = delete;

    void Start() {
        m_started = true;
        QVLOG(QVLOG_INFO, L"CSelfProtection: Started; no security platform client is installed, "
                          L"the agent runs without anti-tamper registration.");
    }

private:
    bool m_started = false;
};
