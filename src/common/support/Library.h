#pragma once
// Holders of a loaded module and the binding of its entry points.
#include <windows.h>
#include <string>
#include "QvDbgConfig.h"

// Loader errors of the library holders.
constexpr DWORD QVLIB_ERROR_NULL_PATH = ERROR_BAD_ARGUMENTS;      // 160
constexpr DWORD QVLIB_ERROR_ALREADY_LOADED = 5010;                // ERROR_OBJECT_ALREADY_EXISTS
constexpr DWORD QVLIB_ERROR_NOT_LOADED = ERROR_INVALID_HANDLE;    // 6

namespace QvCommon {
namespace Library {

// An entry point found by GetProcAddress, as the function type it really has.
template <typename Fn>
Fn EntryPointCast(FARPROC entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

// Owns one module handle.
class Base {
public:
    Base() = default;
    virtual ~Base();
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    // LoadLibraryW of the path: 160 for a null path, 5010 when a module is
    // already held, the loader's error otherwise.
    bool Load(const wchar_t* path, DWORD* error = nullptr);
    // FreeLibrary; 6 when nothing is held.
    bool Unload(DWORD* error = nullptr);
    HMODULE GetModule() const { return m_module; }

private:
    HMODULE m_module = nullptr;
};

class Wrapper : public Base {
public:
    // Resolves (bind = true) or forgets (bind = false) the entry points.
    virtual bool BindEntryPoints(bool bind, DWORD* error) = 0;

protected:
    // One entry point of the held module. A failure clears `resolved` and
    // leaves its Windows error in `error`, so the last failure's code wins.
    template <typename Fn>
    Fn Resolve(const char* name, bool& resolved, DWORD* error) const {
        FARPROC entry = ::GetProcAddress(GetModule(), name);
        if (!entry) {
            resolved = false;
            if (error) *error = ::GetLastError();
        }
        return EntryPointCast<Fn>(entry);
    }
};

// The tracing library QvDbg32.dll.
class QvDbg : public Wrapper {
public:
    ~QvDbg() override;
    bool BindEntryPoints(bool bind, DWORD* error) override;

    // Loads "<folder>\QvDbg32.dll" and binds its entry points; fails when it
    // is bound already.
    bool LoadFrom(const std::wstring& folder, DWORD* error = nullptr);
    bool IsBound() const { return m_bound; }

    PFN_QvDbgInitialize Initialize = nullptr;
    PFN_QvDbgUninitialize Uninitialize = nullptr;
    PFN_QvDbgTrace Trace = nullptr;

private:
    bool m_bound = false;
};

} // namespace Library
} // namespace QvCommon
