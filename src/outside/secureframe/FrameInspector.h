#pragma once
// A second interface of the frame manager, reached by QueryInterface, for
// those who check what the frames did: tests, and tools that watch the agent.
// It is not part of FrameManager, whose slots the agent relies on.
#include <windows.h>
#include <objbase.h>

// {6B1D6F0E-4C1A-4D7E-9A55-2F3C7B0E91A4}
inline constexpr IID IID_IFrameInspector = {0x6B1D6F0E, 0x4C1A, 0x4D7E,
                                            {0x9A, 0x55, 0x2F, 0x3C, 0x7B, 0x0E, 0x91, 0xA4}};

struct IFrameInspector : public IUnknown {
    // Every change made to the frame, one line each, each ending in "\n":
    // "create page=P title=T hidden", "create browser command=C navigate=0|1",
    // "load P" (with " (page not found)" when unreadable), "script S", "show",
    // "hide", "deactivate", "move X,Y", "size W,H", "close". A journal keeps its
    // newest 64 Ki characters; the last 32 frames that closed keep theirs. An
    // unknown or forgotten id gives HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
    virtual HRESULT STDMETHODCALLTYPE GetJournal(DWORD frameId, BSTR* text) = 0;
};
