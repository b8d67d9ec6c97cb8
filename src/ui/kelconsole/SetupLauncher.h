#pragma once
// Asks the product's service whether a setup must run before the agent, and
// starts the setup command it names.
#include <string>
#include "ProviderWrappers.h"

class CSetupLauncher {
public:
    CSetupLauncher(const std::wstring& entryPoint, bool silent);
    CSetupLauncher(const CSetupLauncher&) = delete;
    CSetupLauncher& operator=(const CSetupLauncher&) = delete;

    // An unreachable service counts as a setup needed.
    bool SetupNeeded() const { return !(m_initialized && m_setupCommand.empty()); }
    // True when the setup command was started.
    bool Launch();

private:
    bool m_initialized = false;
    CIpcClientProviderWrapper m_client;
    std::wstring m_setupCommand;
    std::wstring m_entryPoint;
    bool m_silent;
};

// Starts a command line without waiting; an empty one starts nothing.
bool InvokeProcessAsynch(const std::wstring& command);
