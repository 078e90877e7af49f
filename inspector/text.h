// Text helpers shared by the commands: every byte the tool prints from a file goes through
// Escape, so the output is plain ASCII and the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace inspector {

// Printable ASCII as it is, so that Windows paths read naturally; every other byte, line ends
// and tabs included, as \xNN. A value is shown between double quotes at the end of its line, so
// quotes inside it need no escape.
std::string Escape(const uint8_t* data, size_t size);

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
