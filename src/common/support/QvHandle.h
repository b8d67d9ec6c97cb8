#pragma once
// One owner template for every kind of Windows resource: a handle, a registry
// key, a module, a find handle, memory from LocalAlloc, GlobalAlloc or
// CoTaskMemAlloc, a BSTR, a win-event hook, a COM reference, the clipboard.
// Closing keeps the caller's last error, so an owner going out of scope on a
// failure path never hides the error that made the path fail.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

namespace QvCommon {

template <typename Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept : m_value(Traits::Invalid()) {}
    explicit UniqueResource(pointer value) noexcept : m_value(value) {}
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    pointer get() const noexcept { return m_value; }
    // For owners of interface pointers.
    pointer operator->() const noexcept { return m_value; }
    bool valid() const noexcept { return Traits::IsValid(m_value); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(m_value, Traits::Invalid()); }

    void reset(pointer value = Traits::Invalid()) noexcept {
        pointer old = std::exchange(m_value, value);
        if (Traits::IsValid(old)) {
            DWORD error = ::GetLastError();
            Traits::Close(old);
            ::SetLastError(error);
        }
    }

    // For out-parameters of creating functions: frees what is held first.
    pointer* put() noexcept { reset(); return &m_value; }

private:
    pointer m_value;
};

struct HandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return nullptr; }
    // Windows uses both null and INVALID_HANDLE_VALUE for "no handle".
    static bool IsValid(pointer h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(pointer h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
    using pointer = HKEY;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer h) { return h != nullptr; }
    static void Close(pointer h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
    using pointer = HMODULE;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer h) { return h != nullptr; }
    static void Close(pointer h) { ::FreeLibrary(h); }
};

struct FindTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(pointer h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(pointer h) { ::FindClose(h); }
};

struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer h) { return h != nullptr; }
    static void Close(pointer h) { ::LocalFree(h); }
};

struct CoTaskMemoryTraits {
    using pointer = void*;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer p) { return p != nullptr; }
    static void Close(pointer p) { ::CoTaskMemFree(p); }
};

struct GlobalMemoryTraits {
    using pointer = HGLOBAL;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer h) { return h != nullptr; }
    static void Close(pointer h) { ::GlobalFree(h); }
};

struct BstrTraits {
    using pointer = BSTR;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer p) { return p != nullptr; }
    static void Close(pointer p) { ::SysFreeString(p); }
};

struct WinEventHookTraits {
    using pointer = HWINEVENTHOOK;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer h) { return h != nullptr; }
    static void Close(pointer h) { ::UnhookWinEvent(h); }
};

// A COM reference: the owner releases the one reference it was given.
template <typename Interface>
struct ComTraits {
    using pointer = Interface*;
    static pointer Invalid() { return nullptr; }
    static bool IsValid(pointer p) { return p != nullptr; }
    static void Close(pointer p) { p->Release(); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits>;
using UniqueGlobalMemory = UniqueResource<GlobalMemoryTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;
using UniqueWinEventHook = UniqueResource<WinEventHookTraits>;
template <typename Interface>
using UniqueCom = UniqueResource<ComTraits<Interface>>;

// The clipboard, opened for the length of a scope.
class ClipboardScope {
public:
    ClipboardScope() : m_open(::OpenClipboard(nullptr) != FALSE) {}
    ~ClipboardScope() { if (m_open) ::CloseClipboard(); }
    ClipboardScope(const ClipboardScope&) = delete;
    ClipboardScope& operator=(const ClipboardScope&) = delete;
    bool IsOpen() const { return m_open; }
    // Closes now and tells whether that worked.
    bool Close() { m_open = false; return ::CloseClipboard() != FALSE; }
private:
    bool m_open;
};

} // namespace QvCommon
