#include "ProcessEntry.h"

#include <cstdio>
#include "QvLog.h"

namespace QvCommon {
namespace Process {

void ReportEscapedException(const wchar_t* program, const char* what) {
    const char* text = what ? what : "unknown exception";
    std::fwprintf(stderr, L"%ls: stopped by an exception: %hs\n", program, text);
    std::fflush(stderr);
    QVLOG(QVLOG_ERROR, L"%s: stopped by an exception: %S", program, text);
}

} // namespace Process
} // namespace QvCommon
