#include "TestEnvironment.h"

#include <vector>

namespace KelTest {

EnvironmentScope::EnvironmentScope(const std::wstring& name, const std::wstring& value) : m_name(name) {
    const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> old(size);
        const DWORD length = ::GetEnvironmentVariableW(name.c_str(), old.data(), size);
        m_existed = length < size;
        if (m_existed) m_old.assign(old.data(), length);
    }
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
}

EnvironmentScope::~EnvironmentScope() {
    ::SetEnvironmentVariableW(m_name.c_str(), m_existed ? m_old.c_str() : nullptr);
}

} // namespace KelTest
