#pragma once
// Small file-system checks of the storage and folder tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "QvHandle.h"

namespace KelTest {
namespace Files {

inline bool IsFolder(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline void WriteText(const std::wstring& path, const std::string& content) {
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid()) << ::GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                            &written, nullptr));
}

} // namespace Files
} // namespace KelTest
