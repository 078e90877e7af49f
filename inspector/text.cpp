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

// Characters a terminal acts on instead of showing: the C0 and C1 controls and DEL, and the
// bidirectional controls, which make a line read in another order than its bytes.
bool IsTerminalControl(uint32_t c)
{
    if (c == '\t' || c == '\n' || c == '\r')
        return false;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
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

std::string Escape(const std::string& text)
{
    return Escape(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string Quoted(const std::string& text)
{
    return "\"" + Escape(text) + "\"";
}

size_t DecodeUtf8(const uint8_t* data, size_t size, uint32_t& c)
{
    const uint8_t first = data[0];
    size_t length;
    uint32_t minimum;
    if (first < 0x80) {
        c = first;
        return 1;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, c = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, c = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, c = first & 0x07;
    } else {
        return 0;
    }
    if (size < length)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((data[k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (data[k] & 0x3F);
    }
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    return c >= minimum && c <= 0x10FFFF && !surrogate ? length : 0;
}

size_t FindTerminalControl(const uint8_t* data, size_t size, size_t* length)
{
    for (size_t i = 0; i < size;) {
        uint32_t c = 0;
        size_t sequence = DecodeUtf8(data + i, size - i, c);
        if (sequence == 0) {
            c = data[i];
            sequence = 1;
        }
        if (IsTerminalControl(c)) {
            *length = sequence;
            return i;
        }
        i += sequence;
    }
    *length = 0;
    return size;
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
