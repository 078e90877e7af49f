#include "text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace inspector {

namespace {

constexpr size_t FIELD_COLUMN = 17;

const char HEX_DIGITS[] = "0123456789ABCDEF";

void AppendHexByte(std::string& text, uint8_t byte)
{
    text += HEX_DIGITS[byte >> 4];
    text += HEX_DIGITS[byte & 0x0F];
}

} // namespace

std::string Escape(const uint8_t* data, size_t size)
{
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7F) {
            text += char(c);
        } else {
            text += "\\x";
            AppendHexByte(text, c);
        }
    }
    return text;
}

std::string Hex32(uint32_t value)
{
    char text[11];
    std::snprintf(text, sizeof(text), "0x%08X", unsigned(value));
    return text;
}

std::string DecimalAndHex(uint32_t value)
{
    return std::to_string(value) + " (" + Hex32(value) + ")";
}

std::string GuidText(const uint8_t* b)
{
    // Data1, Data2 and Data3 are little-endian numbers; Data4 is eight bytes in order.
    static const int order[16] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11};
    std::string text = "{";
    for (int index : order) {
        if (index < 0)
            text += '-';
        else
            AppendHexByte(text, b[index]);
    }
    for (int i = 12; i < 16; ++i)
        AppendHexByte(text, b[i]);
    return text + "}";
}

void WriteHexRows(std::ostream& out, const char* indent, const uint8_t* data, size_t size)
{
    for (size_t row = 0; row < size; row += 16) {
        char offset[8];
        std::snprintf(offset, sizeof(offset), "%04X:", unsigned(row));
        std::string line = std::string(indent) + offset;
        for (size_t i = row; i < size && i < row + 16; ++i) {
            line += ' ';
            AppendHexByte(line, data[i]);
        }
        out << line << '\n';
    }
}

void WriteField(std::ostream& out, const char* label, const std::string& value)
{
    std::string line = std::string(label) + ":";
    if (line.size() < FIELD_COLUMN)
        line.resize(FIELD_COLUMN, ' ');
    else
        line += ' ';
    out << line << value << '\n';
}

std::string Bytes(uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace inspector
