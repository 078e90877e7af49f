// Turns the bytes of a log into lines, a piece at a time, so that a log of any size is read in
// constant memory: 8-bit text (the verbose installer log as Wine writes it, the ANSI form of
// Windows), or UTF-16LE with a byte-order mark (the trace file, the Unicode verbose log) or without
// one (the install debug log KRVMSI<pid>.log). The form is told from the first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace inspector {

enum class ETextForm {
    Unknown, // nothing read yet, or only a byte-order mark
    EightBit,
    Utf16Le,
    Binary, // the first bytes are not text: nothing is handed out
};

struct SReaderFacts {
    ETextForm form = ETextForm::Unknown;
    bool byteOrderMark = false;
    uint64_t bytes = 0;
    uint64_t lines = 0;
    bool cutLine = false;      // the text ends inside a line (no line end after the last one)
    bool cutCharacter = false; // UTF-16 text ends inside a character (an odd byte or half a pair)
    uint64_t longLines = 0;    // lines longer than MAX_LINE, handed out cut at that length
};

class CLineReader {
public:
    // The longest line handed out, in bytes; a line is cut there and the rest of it skipped.
    static constexpr size_t MAX_LINE = 64 * 1024;

    // The sink gets each line without its line end (LF or CR LF): 8-bit text byte for byte,
    // UTF-16 text as UTF-8 (an unpaired surrogate as U+FFFD). The line is valid during the call
    // only: a line of 8-bit text that lies whole in one piece is handed out where it lies.
    explicit CLineReader(std::function<void(std::string_view)> sink);

    // Returns false once the text turned out to be binary; later pieces are ignored.
    bool Feed(const uint8_t* data, size_t size);
    // Hands out the last line, also one without a line end. Call once, after the last piece.
    void Finish();

    const SReaderFacts& Facts() const noexcept { return m_facts; }

private:
    void Decide();
    void Decode(const uint8_t* data, size_t size);
    void DecodeEightBit(const uint8_t* data, size_t size);
    void DecodeUtf16(const uint8_t* data, size_t size);
    void TakeUnit(uint32_t unit);
    void AppendCodePoint(uint32_t unit);
    void Append(const char* text, size_t size);
    void EndLine();
    void HandOut(const char* text, size_t size, bool cut);

    std::function<void(std::string_view)> m_sink;
    SReaderFacts m_facts;
    std::string m_head; // the first bytes, until the form is decided
    std::string m_line;
    bool m_lineCut = false;
    int m_pendingByte = -1;       // the first byte of a UTF-16 unit split between pieces
    uint32_t m_highSurrogate = 0; // a high surrogate waiting for its pair
};

} // namespace inspector
