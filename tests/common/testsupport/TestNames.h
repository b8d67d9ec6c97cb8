#pragma once
// Names and text shared by every test program and helper process.
#include <windows.h>
#include <string>
#include "JsonBody.h"

namespace KelTest {

// A name no other test of this run uses: base plus process id, time and a counter.
std::wstring UniqueName(const std::wstring& base);

// UTF-16 to UTF-8 and back, as the product converts at the JSON boundary.
inline std::string Narrow(const std::wstring& text) { return KelJson::ToUtf8(text); }
inline std::wstring Widen(const std::string& text) { return KelJson::FromUtf8(text); }

// The folder of this executable, ending in "\": where the build puts every
// program, DLL and helper of the project.
std::wstring ProgramFolder();

// Any argument (JSON with its quotes, say) written so that the Windows
// command-line rules read it back unchanged: in quotes, each inner quote and
// the backslashes before it escaped.
std::wstring Argument(const std::wstring& argument);

} // namespace KelTest
