#pragma once
// The temp folder, as the PIN provider and the service use it for their
// default file places.
#include <string>

// GetTempPathW's folder, ending in "\"; empty when the system gives none.
std::wstring GetTempFolder();
