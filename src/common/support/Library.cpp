#include "Library.h"

namespace QvCommon {
namespace Library {
namespace {
bool Fail(DWORD* error, DWORD code) {
    if (error) *error = code;
    return false;
}
} // namespace

Base::~Base() { Unload(); }

bool Base::Load(const wchar_t* path, DWORD* error) {
    if (!path) return Fail(error, QVLIB_ERROR_NULL_PATH);
    if (m_module) return Fail(error, QVLIB_ERROR_ALREADY_LOADED);
    m_module = ::LoadLibraryW(path);
    if (!m_module) return Fail(error, ::GetLastError());
    if (error) *error = 0;
    return true;
}

bool Base::Unload(DWORD* error) {
    if (!m_module) return Fail(error, QVLIB_ERROR_NOT_LOADED);
    HMODULE module = m_module;
    m_module = nullptr;
    if (!::FreeLibrary(module)) return Fail(error, ::GetLastError());
    if (error) *error = 0;
    return true;
}

QvDbg::~QvDbg() {
    if (m_bound && Unload()) BindEntryPoints(false, nullptr);
}

bool QvDbg::BindEntryPoints(bool bind, DWORD* error) {
    if (!bind) {
        Initialize = nullptr;
        Uninitialize = nullptr;
        Trace = nullptr;
        m_bound = false;
        return true;
    }
    bool ok = true;
    Initialize = Resolve<PFN_QvDbgInitialize>(QVDBG_ENTRY_INITIALIZE, ok, error);
    Uninitialize = Resolve<PFN_QvDbgUninitialize>(QVDBG_ENTRY_UNINITIALIZE, ok, error);
    Trace = Resolve<PFN_QvDbgTrace>(QVDBG_ENTRY_TRACE, ok, error);
    m_bound = ok;
    return ok;
}

bool QvDbg::LoadFrom(const std::wstring& folder, DWORD* error) {
    if (m_bound) return Fail(error, QVLIB_ERROR_ALREADY_LOADED);
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += QVDBG_LIBRARY_NAME;
    if (!Load(path.c_str(), error)) return false;
    return BindEntryPoints(true, error);
}

} // namespace Library
} // namespace QvCommon
