#pragma once
// The one place where an exception thrown by code that a thread of this
// library calls (a provider, a listener, the JSON library, an allocation)
// becomes a result code, so that no exception leaves a thread: the process
// logs it and goes on serving the next message.
#include <windows.h>
#include <cstdint>
#include <exception>
#include <new>
#include "ProviderResult.h"
#include "QvException.h"
#include "QvLog.h"

namespace IpcGuard {

// Calls fn (which returns a result code) and returns its code; an exception
// gives outOfMemory for std::bad_alloc and 0x10000001 for anything else,
// with one error line naming where. caught (optional) tells the two apart.
template <typename Fn>
uint32_t Call(const wchar_t* where, Fn&& fn, bool* caught = nullptr,
              uint32_t outOfMemory = PROVIDER_RESULT_OUT_OF_MEMORY) noexcept {
    if (caught) *caught = true;
    try {
        const uint32_t result = fn();
        if (caught) *caught = false;
        return result;
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"%s: Out of memory (exception caught): 0x%08x", where, outOfMemory);
        return outOfMemory;
    } catch (const std::exception& e) {
        QVLOG(QVLOG_ERROR, L"%s: Exception caught: %hs", where, e.what());
    } catch (const QvCommon::Exception::Result& e) {
        QVLOG(QVLOG_ERROR, L"%s: Result exception caught: 0x%08x", where, static_cast<uint32_t>(e.GetResult()));
    } catch (QvCommon::Exception::Base* e) {
        // The library's own exceptions travel by pointer and belong to the catcher.
        QVLOG(QVLOG_ERROR, L"%s: Exception caught: code 0x%08x (%hs line %u)", where, e ? e->GetCode() : 0,
              e ? e->GetFile().c_str() : "", e ? e->GetLine() : 0);
        delete e;
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"%s: Unknown exception caught.", where);
    }
    return PROVIDER_RESULT_FAILED;
}

} // namespace IpcGuard
