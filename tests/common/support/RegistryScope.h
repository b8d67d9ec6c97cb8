#pragma once
// Sets or removes one value of the prefix's real HKEY_LOCAL_MACHINE for the
// length of a test, in one registry view, and puts back what was there before:
// the old value or its absence, and no key that the scope had to create.
// Every process of the prefix sees the same registry, so tests that use it
// carry a ctest RESOURCE_LOCK.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "QvHandle.h"

namespace KelTest {

// Tells a scope to make sure the value is absent.
struct RegAbsent {};

class RegistryScope {
public:
    // view: KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    RegistryScope(REGSAM view, const std::wstring& path, const std::wstring& name, DWORD type,
                  const std::vector<BYTE>& data)
        : m_view(view), m_path(path), m_name(name) {
        Apply(type, &data);
    }
    RegistryScope(REGSAM view, const std::wstring& path, const std::wstring& name,
                  const std::wstring& text, DWORD type = REG_SZ)
        : RegistryScope(view, path, name, type, Bytes(text)) {}
    RegistryScope(REGSAM view, const std::wstring& path, const std::wstring& name, DWORD value)
        : RegistryScope(view, path, name, REG_DWORD,
                        std::vector<BYTE>(reinterpret_cast<const BYTE*>(&value),
                                          reinterpret_cast<const BYTE*>(&value) + sizeof(value))) {}
    RegistryScope(REGSAM view, const std::wstring& path, const std::wstring& name, RegAbsent)
        : m_view(view), m_path(path), m_name(name) {
        Apply(0, nullptr);
    }
    RegistryScope(const RegistryScope&) = delete;
    RegistryScope& operator=(const RegistryScope&) = delete;

    ~RegistryScope() {
        QvCommon::UniqueRegKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_SET_VALUE | m_view,
                            key.put()) == ERROR_SUCCESS) {
            if (m_hadValue)
                ::RegSetValueExW(key.get(), m_name.c_str(), 0, m_oldType, m_oldData.data(),
                                 static_cast<DWORD>(m_oldData.size()));
            else
                ::RegDeleteValueW(key.get(), m_name.c_str());
        }
        key.reset();
        for (auto it = m_createdKeys.rbegin(); it != m_createdKeys.rend(); ++it)
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, it->c_str(), m_view, 0);
    }

    // The stored form of a text: UTF-16 with its terminator.
    static std::vector<BYTE> Bytes(const std::wstring& text) {
        const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
        return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
    }

private:
    void Apply(DWORD type, const std::vector<BYTE>* data) {
        // Remember every key along the path that is missing now.
        for (size_t end = m_path.find(L'\\');; end = m_path.find(L'\\', end + 1)) {
            std::wstring prefix = m_path.substr(0, end);
            QvCommon::UniqueRegKey probe;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_QUERY_VALUE | m_view,
                                probe.put()) != ERROR_SUCCESS)
                m_createdKeys.push_back(prefix);
            if (end == std::wstring::npos) break;
        }
        QvCommon::UniqueRegKey key;
        LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE | m_view, nullptr,
                                           key.put(), nullptr);
        ASSERT_EQ(ERROR_SUCCESS, status) << "cannot create the test key";
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), m_name.c_str(), nullptr, &m_oldType, nullptr, &size) ==
            ERROR_SUCCESS) {
            m_oldData.resize(size);
            m_hadValue = ::RegQueryValueExW(key.get(), m_name.c_str(), nullptr, &m_oldType,
                                            m_oldData.data(), &size) == ERROR_SUCCESS;
            m_oldData.resize(size);
        }
        if (data) {
            status = ::RegSetValueExW(key.get(), m_name.c_str(), 0, type, data->data(),
                                      static_cast<DWORD>(data->size()));
            ASSERT_EQ(ERROR_SUCCESS, status) << "cannot write the test value";
        } else {
            ::RegDeleteValueW(key.get(), m_name.c_str());
        }
    }

    REGSAM m_view;
    std::wstring m_path;
    std::wstring m_name;
    std::vector<std::wstring> m_createdKeys;
    bool m_hadValue = false;
    DWORD m_oldType = 0;
    std::vector<BYTE> m_oldData;
};

} // namespace KelTest
