#pragma once
// Creates the secure frame component's FrameManager the way the agent gets
// it: SecureFrame.dll loaded beside the program, its class object asked for
// the manager. The library stays loaded for the life of the process.
#include "FrameManager.h"
#include "QvHandle.h"

// Results beside the class factory's own.
constexpr HRESULT SFRAME_E_LIBRARY_NOT_LOADED = static_cast<HRESULT>(0x8000007E);
constexpr HRESULT SFRAME_E_ENTRY_MISSING = static_cast<HRESULT>(0x8000007F);

HRESULT CreateSecureFrame(QvCommon::UniqueCom<FrameManager>& manager);
