#pragma once
// Exceptions of the common library. Storage, string and access-control errors
// are thrown by pointer (the catcher deletes them); the result exception marks
// states that must not occur and carries an HRESULT.
#include <windows.h>
#include <string>

namespace QvCommon {
namespace Exception {

class Base {
public:
    Base(DWORD code, const char* file, DWORD line)
        : m_code(code), m_line(line), m_file(file ? file : "") {}
    virtual ~Base() = default;
    DWORD GetCode() const { return m_code; }
    DWORD GetLine() const { return m_line; }
    const std::string& GetFile() const { return m_file; }
private:
    DWORD m_code;
    DWORD m_line;
    std::string m_file;
};

// Thrown by value: a programming or resource state that must not occur.
class Result {
public:
    explicit Result(HRESULT hr) : m_hr(hr) {}
    HRESULT GetResult() const { return m_hr; }
private:
    HRESULT m_hr;
};

} // namespace Exception

namespace String {
class Exception : public QvCommon::Exception::Base {
public:
    using Base::Base;
};
} // namespace String

} // namespace QvCommon
