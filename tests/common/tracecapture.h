#pragma once
#include <string>

// Sends the module trace's lines to a file of their own while the object lives, each line as
// "<type> : <message>" with the message exactly as the caller wrote it, at every level.
namespace supporttest {

class CTraceCapture {
public:
    CTraceCapture();
    CTraceCapture(const CTraceCapture&) = delete;
    CTraceCapture& operator=(const CTraceCapture&) = delete;
    ~CTraceCapture();

    // What was traced since the last call, as UTF-8.
    std::string Take();

private:
    std::wstring m_path;
    size_t m_consumed = 0;
};

} // namespace supporttest
