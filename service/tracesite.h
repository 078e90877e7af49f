#pragma once
#include <cstdarg>

namespace clfs::utils {

// The trace lines of one function: its full signature as the lines name it, " : ", then the
// message, a wide printf format (%s and %ls take wide strings). Nothing is formatted unless the
// level is enabled; a line that cannot be built is dropped.
class CTraceSite {
public:
    constexpr explicit CTraceSite(const wchar_t* signature) noexcept : m_szSignature(signature) {}

    const wchar_t* GetSignature() const noexcept { return m_szSignature; }

    void Info(const wchar_t* format, ...) const noexcept;
    void Warning(const wchar_t* format, ...) const noexcept;
    void Error(const wchar_t* format, ...) const noexcept;

private:
    void Trace(int level, const wchar_t* format, va_list args) const noexcept;

    const wchar_t* m_szSignature;
};

} // namespace clfs::utils
