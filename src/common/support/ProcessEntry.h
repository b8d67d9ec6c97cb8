#pragma once
// The entry of every program of the product: an exception that reaches it
// would end the process without a word, so it is reported and turned into
// the program's failure code instead.
#include <exception>

namespace QvCommon {
namespace Process {

// Standard error (when the program has one) and the debug log.
void ReportEscapedException(const wchar_t* program, const char* what);

template <typename Body>
int GuardedEntry(const wchar_t* program, int failureCode, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        ReportEscapedException(program, e.what());
    } catch (...) {
        ReportEscapedException(program, nullptr);
    }
    return failureCode;
}

} // namespace Process
} // namespace QvCommon
