#include "logreader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace inspector {

namespace {

// Enough of any log to tell its form: the first lines of every kind are plain ASCII.
constexpr size_t HEAD_SIZE = 4096;

bool IsControl(uint32_t unit)
{
    return unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r' && unit != '\f' && unit != '\v';
}

// Text has no NUL and few control characters; anything else is not a log.
template <typename Unit> bool LooksBinary(const Unit* units, size_t count)
{
    size_t controls = 0;
    for (size_t i = 0; i < count; ++i) {
        if (units[i] == 0)
            return true;
        controls += IsControl(units[i]) ? 1 : 0;
    }
    return controls * 10 > count;
}

// UTF-16LE without a mark: ASCII text has a zero in every second byte and in no other.
bool LooksUtf16(const uint8_t* bytes, size_t size)
{
    size_t oddZeros = 0;
    size_t evenZeros = 0;
    for (size_t i = 0; i + 1 < size; i += 2) {
        evenZeros += bytes[i] == 0 ? 1 : 0;
        oddZeros += bytes[i + 1] == 0 ? 1 : 0;
    }
    return oddZeros * 4 > size / 2 && evenZeros * 4 < oddZeros;
}

} // namespace

CLineReader::CLineReader(std::function<void(std::string_view)> sink) : m_sink(std::move(sink)) {}

bool CLineReader::Feed(const uint8_t* data, size_t size)
{
    if (m_facts.form == ETextForm::Binary)
        return false;
    m_facts.bytes += size;
    if (m_facts.form != ETextForm::Unknown || m_head.size() >= HEAD_SIZE) {
        Decode(data, size);
        return m_facts.form != ETextForm::Binary;
    }
    const size_t take = std::min(size, HEAD_SIZE - m_head.size());
    m_head.append(reinterpret_cast<const char*>(data), take);
    if (m_head.size() == HEAD_SIZE) {
        Decide();
        Decode(data + take, size - take);
    }
    return m_facts.form != ETextForm::Binary;
}

void CLineReader::Finish()
{
    if (m_facts.form == ETextForm::Unknown)
        Decide();
    if (m_facts.form == ETextForm::Binary)
        return;
    if (m_pendingByte >= 0 || m_highSurrogate != 0) {
        m_facts.cutCharacter = true;
        if (m_highSurrogate != 0) {
            m_highSurrogate = 0;
            AppendCodePoint(0xFFFD);
        }
    }
    if (!m_line.empty() || m_lineCut) {
        m_facts.cutLine = true;
        EndLine();
    }
}

// Decides the form from the head, then decodes the head.
void CLineReader::Decide()
{
    std::string head;
    head.swap(m_head);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(head.data());
    size_t size = head.size();
    if (size == 0)
        return;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        m_facts.form = ETextForm::Utf16Le;
        m_facts.byteOrderMark = true;
        bytes += 2;
        size -= 2;
    } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        m_facts.form = ETextForm::EightBit;
        m_facts.byteOrderMark = true;
        bytes += 3;
        size -= 3;
    } else {
        m_facts.form = LooksUtf16(bytes, size) ? ETextForm::Utf16Le : ETextForm::EightBit;
    }
    bool binary = false;
    if (m_facts.form == ETextForm::Utf16Le) {
        std::u16string units(size / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
        binary = LooksBinary(units.data(), units.size());
    } else {
        binary = LooksBinary(bytes, size);
    }
    if (binary) {
        m_facts.form = ETextForm::Binary;
        return;
    }
    Decode(bytes, size);
}

void CLineReader::Decode(const uint8_t* data, size_t size)
{
    if (m_facts.form == ETextForm::EightBit)
        DecodeEightBit(data, size);
    else if (m_facts.form == ETextForm::Utf16Le)
        DecodeUtf16(data, size);
}

void CLineReader::DecodeEightBit(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    while (size > 0) {
        const char* end = static_cast<const char*>(std::memchr(text, '\n', size));
        const size_t length = end ? size_t(end - text) : size;
        if (end != nullptr && m_line.empty() && !m_lineCut) {
            HandOut(text, length, false);
        } else {
            Append(text, length);
            if (end == nullptr)
                return;
            EndLine();
        }
        text += length + 1;
        size -= length + 1;
    }
}

void CLineReader::DecodeUtf16(const uint8_t* data, size_t size)
{
    size_t i = 0;
    if (m_pendingByte >= 0 && size > 0) {
        TakeUnit(uint32_t(m_pendingByte) | uint32_t(data[0]) << 8);
        m_pendingByte = -1;
        i = 1;
    }
    // Most of a log is ASCII: gathered, and appended a run at a time.
    char run[512];
    size_t held = 0;
    for (; i + 1 < size; i += 2) {
        const uint32_t unit = uint32_t(data[i]) | uint32_t(data[i + 1]) << 8;
        if (m_highSurrogate == 0 && unit < 0x80 && unit != '\n') {
            run[held++] = char(unit);
            if (held == sizeof(run)) {
                Append(run, held);
                held = 0;
            }
            continue;
        }
        Append(run, held);
        held = 0;
        TakeUnit(unit);
    }
    Append(run, held);
    if (i < size)
        m_pendingByte = data[i];
}

void CLineReader::TakeUnit(uint32_t unit)
{
    if (m_highSurrogate == 0 && unit < 0x80) {
        if (unit == '\n') {
            EndLine();
        } else {
            const char c = char(unit);
            Append(&c, 1);
        }
        return;
    }
    AppendCodePoint(unit);
}

// Takes one UTF-16 code unit and appends what it completes, as UTF-8.
void CLineReader::AppendCodePoint(uint32_t unit)
{
    if (m_highSurrogate != 0) {
        const uint32_t high = m_highSurrogate;
        m_highSurrogate = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            unit = 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00);
        } else {
            AppendCodePoint(0xFFFD);
            TakeUnit(unit);
            return;
        }
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
        m_highSurrogate = unit;
        return;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        unit = 0xFFFD;
    }
    char encoded[4];
    size_t length = 0;
    if (unit < 0x80) {
        encoded[length++] = char(unit);
    } else if (unit < 0x800) {
        encoded[length++] = char(0xC0 | unit >> 6);
        encoded[length++] = char(0x80 | (unit & 0x3F));
    } else if (unit < 0x10000) {
        encoded[length++] = char(0xE0 | unit >> 12);
        encoded[length++] = char(0x80 | (unit >> 6 & 0x3F));
        encoded[length++] = char(0x80 | (unit & 0x3F));
    } else {
        encoded[length++] = char(0xF0 | unit >> 18);
        encoded[length++] = char(0x80 | (unit >> 12 & 0x3F));
        encoded[length++] = char(0x80 | (unit >> 6 & 0x3F));
        encoded[length++] = char(0x80 | (unit & 0x3F));
    }
    Append(encoded, length);
}

void CLineReader::Append(const char* text, size_t size)
{
    const size_t room = MAX_LINE - m_line.size();
    if (size > room) {
        m_lineCut = true;
        size = room;
    }
    m_line.append(text, size);
}

void CLineReader::EndLine()
{
    HandOut(m_line.data(), m_line.size(), m_lineCut);
    m_line.clear();
    m_lineCut = false;
}

// One line, cut at MAX_LINE and without the CR of a CR LF line end.
void CLineReader::HandOut(const char* text, size_t size, bool cut)
{
    if (size > MAX_LINE) {
        size = MAX_LINE;
        cut = true;
    }
    if (size > 0 && text[size - 1] == '\r')
        --size;
    if (cut)
        ++m_facts.longLines;
    ++m_facts.lines;
    m_sink(std::string_view(text, size));
}

} // namespace inspector
