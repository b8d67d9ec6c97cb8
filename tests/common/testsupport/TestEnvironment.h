#pragma once
// Environment variables changed for the length of a test.
#include <windows.h>
#include <string>

namespace KelTest {

// An environment variable of this process, and so of the children it starts,
// changed for the life of the object and then put back.
class EnvironmentScope {
public:
    EnvironmentScope(const std::wstring& name, const std::wstring& value);
    ~EnvironmentScope();
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    std::wstring m_name;
    bool m_existed = false;
    std::wstring m_old;
};

} // namespace KelTest
