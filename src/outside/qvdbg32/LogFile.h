#pragma once
// One log file opened for appending and shared with every other writer of the
// same path, in this process or another: a named mutex derived from the path
// makes each append whole, and readers may open the file to follow it.
#include <windows.h>
#include <string>
#include "QvHandle.h"

namespace QvDbg {

class CLogFile {
public:
    // Creates the folder (and its parents) when missing, opens the file and its
    // append lock. Returns 0 or the Windows error.
    DWORD Open(const std::wstring& folder, const std::wstring& fileName);
    void Close();
    // Appends the bytes in one write under the append lock; with flush the data
    // reaches the disk before the call returns. Returns 0 or the Windows error.
    DWORD Append(const std::string& bytes, bool flush);

    bool IsOpen() const { return m_file.valid(); }
    const std::wstring& FileName() const { return m_fileName; }

private:
    std::wstring m_fileName;
    QvCommon::UniqueHandle m_file;
    QvCommon::UniqueHandle m_appendLock;
};

// Creates the folder and every missing parent. Returns 0 or the Windows error.
DWORD CreateFolderTree(const std::wstring& folder);

// The name of the append lock of a file: the same for every spelling of the
// path that differs only in case.
std::wstring AppendLockName(const std::wstring& path);

} // namespace QvDbg
