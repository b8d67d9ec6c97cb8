#pragma once
// Whether keystroke protection may be switched on, as the PIN provider says.
#include "ProviderInterfaces.h"

namespace KeystrokeCommon {
// A failed request answers true, so that a missing PIN provider does not stop
// the keyboard filter from being enabled.
bool KeystrokeSatus(IProviderController* controller);
} // namespace KeystrokeCommon
