// Text helpers shared by the commands: every byte the tool prints from a file goes through
// Escape, so the output is plain ASCII and the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

namespace inspector {

// Whether text holds prefix at position at (false when at lies past its end). Inline, so that the
// length of a literal prefix is known where it is compared: the log reader rejects most lines by
// one or two such comparisons.
inline bool StartsWith(std::string_view text, std::string_view prefix, size_t at = 0)
{
    return at <= text.size() && text.size() - at >= prefix.size() &&
           std::memcmp(text.data() + at, prefix.data(), prefix.size()) == 0;
}

// Printable ASCII as it is, so that Windows paths read naturally; every other byte, line ends
// and tabs included, as \xNN. A value is shown between double quotes at the end of its line, so
// quotes inside it need no escape.
std::string Escape(const uint8_t* data, size_t size);
std::string Escape(const std::string& text);
// Escape(text) between double quotes, as a value is shown inside a sentence.
std::string Quoted(const std::string& text);

// One UTF-8 sequence at data: its length, with the character in c; 0 when it is cut short,
// malformed, overlong, a surrogate or beyond U+10FFFF.
size_t DecodeUtf8(const uint8_t* data, size_t size, uint32_t& c);

// Where text stops being safe to hand to a terminal as it is: the offset of the first control a
// terminal acts on instead of showing it (C0 but tab, line feed and carriage return; DEL; C1,
// whether as U+0080 to U+009F or as a byte 0x80 to 0x9F outside a UTF-8 sequence; a
// bidirectional control such as U+202E), with the length of its sequence in *length. size when
// there is none. Other bytes that are not UTF-8 pass: 8-bit text in a Windows code page shows as
// some character.
size_t FindTerminalControl(const uint8_t* data, size_t size, size_t* length);

// "0x" and eight upper-case hex digits.
std::string Hex32(uint32_t value);
// "1 (0x00000001)".
std::string DecimalAndHex(uint32_t value);

// 16 bytes in GUID structure layout as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GuidText(const uint8_t* bytes);

// Rows of up to 16 bytes, "<indent>0000: 01 02 ..." with the row's offset in hex.
void WriteHexRows(std::ostream& out, const char* indent, const uint8_t* data, size_t size);

// "<label>:" padded to a fixed column, then the value and a line end.
void WriteField(std::ostream& out, const char* label, const std::string& value);

// "1 byte", "2 bytes".
std::string Bytes(uint64_t count);

// Equal but for the case of ASCII letters, as Windows compares file and export names.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

} // namespace inspector
