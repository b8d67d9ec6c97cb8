#include "KeystrokeStatus.h"
#include "ProviderMessages.h"
#include "QvLog.h"

namespace KeystrokeCommon {

bool KeystrokeSatus(IProviderController* controller) {
    QVLOG(QVLOG_TRACE, L"KeystrokeCommon::KeystrokeSatus");
    JsonValue body;   // null; receives the reply
    uint32_t result = controller ? controller->SendMessageToProvider(KEL_PROVIDER_PIN,
                                                                     KEL_PIN_MSG_KEYSTROKE_STATUS, body)
                                 : PROVIDER_RESULT_NOT_INITIALIZED;
    // Any of the four highest bits, not only the provider failure pattern:
    // an HRESULT failure counts as a failed request too.
    if ((result & PROVIDER_FAILURE_MASK) != 0) return true;
    return KelJson::GetBool(body, "PinDriverEnable");
}

} // namespace KeystrokeCommon
