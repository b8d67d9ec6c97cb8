#include "CrashDump.h"

#include <dbghelp.h>
#include <cwchar>
#include "Folders.h"
#include "ProductKeys.h"
#include "QvHandle.h"
#include "Storage.h"

namespace QvCommon {
namespace Exception {

namespace {

constexpr DWORD MODULE_PATH_CHARS = 261;
constexpr wchar_t DEFAULT_BASE_NAME[] = L"Default";

using MiniDumpWriteDumpProc = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                            PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// The program's file name between its last "\" and its last ".".
std::wstring ModuleBaseName() {
    wchar_t path[MODULE_PATH_CHARS] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MODULE_PATH_CHARS);
    if (length == 0 || length >= MODULE_PATH_CHARS) return DEFAULT_BASE_NAME;
    const std::wstring text(path, length);
    const size_t slash = text.rfind(L'\\');
    const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
    const size_t dot = text.rfind(L'.');
    return text.substr(start, dot == std::wstring::npos || dot < start ? std::wstring::npos : dot - start);
}

} // namespace

SEH& SEH::Instance() {
    static SEH instance;
    return instance;
}

void SEH::Install(DWORD policy) {
    m_fullMemory = ReadRegDword(QV_DEBUGLOG_KEY, QV_VALUE_DUMP_TYPE, 0, QVREG_VIEW_64) != 0 ? 1 : 0;
    std::wstring folder = Frwk::Utility::GetDumpFolder();
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    m_folder = folder;
    m_policy = policy;
    ::SetUnhandledExceptionFilter(&SEH::Filter);
}

std::wstring SEH::DumpFileName(const SYSTEMTIME& time) const {
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%04d%02d%02d_%02d%02d%02d_", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
             time.wSecond);
    return m_folder + stamp + ModuleBaseName() + L".dmp";
}

LONG SEH::WriteDump(EXCEPTION_POINTERS* exception) {
    // Declared in this order so that the end runs as it should: the file
    // closes, the lock goes, and only then is dbghelp unloaded.
    UniqueModule dbghelp;
    Synchronize::AutoLock lock(m_lock);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    UniqueHandle file(::CreateFileW(DumpFileName(now).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return EXCEPTION_CONTINUE_SEARCH;
    dbghelp.reset(::LoadLibraryW(L"dbghelp.dll"));
    auto write = dbghelp ? reinterpret_cast<MiniDumpWriteDumpProc>(
                               reinterpret_cast<void*>(::GetProcAddress(dbghelp.get(), "MiniDumpWriteDump")))
                         : nullptr;
    if (!write) return EXCEPTION_CONTINUE_SEARCH;
    MINIDUMP_EXCEPTION_INFORMATION information = {::GetCurrentThreadId(), exception, TRUE};
    const BOOL written = write(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(),
                               m_fullMemory == 1 ? MiniDumpWithFullMemory : MiniDumpNormal,
                               exception ? &information : nullptr, nullptr, nullptr);
    if (!written) return EXCEPTION_CONTINUE_SEARCH;
    return m_policy == QVSEH_EXECUTE_HANDLER        ? EXCEPTION_EXECUTE_HANDLER
           : m_policy == QVSEH_CONTINUE_EXECUTION ? EXCEPTION_CONTINUE_EXECUTION
                                                  : EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI SEH::Filter(EXCEPTION_POINTERS* exception) { return Instance().WriteDump(exception); }

} // namespace Exception
} // namespace QvCommon
