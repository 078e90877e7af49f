#include "xmlreader.h"

#include <cstring>
#include <unordered_set>

#include "text.h"

namespace inspector {
namespace xml {

namespace {

bool IsSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// ASCII letters, '_' and ':' start a name; every non-ASCII byte is accepted as part of a name,
// since the document is checked as valid UTF-8 before parsing.
bool IsNameStart(uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(uint8_t c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsXmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// One character at text[i]: its length, or 0 when it is not UTF-8 or a character XML does not
// allow.
size_t DecodeXmlChar(const std::string& text, size_t i, uint32_t& c)
{
    const size_t length = DecodeUtf8(reinterpret_cast<const uint8_t*>(text.data()) + i, text.size() - i, c);
    return length != 0 && IsXmlChar(c) ? length : 0;
}

class CParser {
public:
    CParser(const uint8_t* text, size_t size, SParseError& error) : m_error(error)
    {
        // Line ends become LF, as an XML processor delivers them.
        m_text.reserve(size);
        for (size_t i = 0; i < size; ++i) {
            if (text[i] == '\r') {
                m_text += '\n';
                if (i + 1 < size && text[i + 1] == '\n')
                    ++i;
            } else {
                m_text += char(text[i]);
            }
        }
    }

    std::unique_ptr<SElement> Run();

private:
    bool Fail(const std::string& reason, bool toolLimit = false)
    {
        if (m_failed)
            return false;
        m_failed = true;
        m_error.toolLimit = toolLimit;
        m_error.line = 1;
        m_error.column = 1;
        for (size_t i = 0; i < m_pos && i < m_text.size(); ++i) {
            if (m_text[i] == '\n') {
                ++m_error.line;
                m_error.column = 1;
            } else {
                ++m_error.column;
            }
        }
        m_error.reason = reason;
        return false;
    }

    bool CountNode()
    {
        if (++m_nodes <= MAX_NODES)
            return true;
        return Fail("more than " + std::to_string(MAX_NODES) + " elements and attributes", true);
    }

    bool AtEnd() const { return m_pos >= m_text.size(); }
    uint8_t Peek(size_t ahead = 0) const { return m_pos + ahead < m_text.size() ? uint8_t(m_text[m_pos + ahead]) : 0; }
    bool StartsWith(const char* literal) const { return m_text.compare(m_pos, std::strlen(literal), literal) == 0; }
    void SkipSpace()
    {
        while (!AtEnd() && IsSpace(Peek()))
            ++m_pos;
    }

    bool CheckEncoding();
    bool ReadName(std::string& name, const char* what);
    bool ReadReference(std::string& out);
    bool ReadComment();
    bool ReadProcessingInstruction();
    bool ReadMisc(bool& progressed);
    bool ReadStartTag(std::vector<SElement*>& stack, std::unique_ptr<SElement>& root);
    bool ReadEndTag(std::vector<SElement*>& stack);
    bool ReadCharData(SElement& element);
    bool ReadCData(SElement& element);
    void AddText(SElement& element, const std::string& text);

    std::string m_text;
    size_t m_pos = 0;
    size_t m_nodes = 0;
    bool m_failed = false;
    SParseError& m_error;
};

bool CParser::CheckEncoding()
{
    for (size_t i = 0; i < m_text.size();) {
        uint32_t c;
        const size_t length = DecodeXmlChar(m_text, i, c);
        if (length == 0) {
            m_pos = i;
            return Fail("a byte that is not valid UTF-8 text or a character XML does not allow");
        }
        i += length;
    }
    return true;
}

bool CParser::ReadName(std::string& name, const char* what)
{
    if (AtEnd() || !IsNameStart(Peek()))
        return Fail(std::string("expected ") + what);
    const size_t start = m_pos;
    while (!AtEnd() && IsNameChar(Peek()))
        ++m_pos;
    name.assign(m_text, start, m_pos - start);
    return true;
}

// At '&': a predefined entity or a character reference.
bool CParser::ReadReference(std::string& out)
{
    static const struct {
        const char* name;
        char value;
    } kPredefined[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
    ++m_pos;
    if (Peek() == '#') {
        ++m_pos;
        const bool hex = Peek() == 'x';
        if (hex)
            ++m_pos;
        uint32_t value = 0;
        size_t digits = 0;
        for (;; ++m_pos, ++digits) {
            const uint8_t c = Peek();
            uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF)
                return Fail("character reference out of range");
        }
        if (digits == 0 || Peek() != ';')
            return Fail("malformed character reference");
        if (!IsXmlChar(value))
            return Fail("character reference to a character XML does not allow");
        ++m_pos;
        AppendUtf8(out, value);
        return true;
    }
    for (const auto& entity : kPredefined) {
        if (StartsWith(entity.name)) {
            m_pos += std::strlen(entity.name);
            out += entity.value;
            return true;
        }
    }
    return Fail("undefined entity (only &lt; &gt; &amp; &apos; &quot; and character references are defined)");
}

bool CParser::ReadComment()
{
    m_pos += 4;
    const size_t end = m_text.find("--", m_pos);
    if (end == std::string::npos) {
        m_pos = m_text.size();
        return Fail("comment not closed");
    }
    m_pos = end;
    if (Peek(2) != '>')
        return Fail("\"--\" inside a comment");
    m_pos += 3;
    return true;
}

bool CParser::ReadProcessingInstruction()
{
    m_pos += 2;
    std::string target;
    if (!ReadName(target, "a processing instruction target"))
        return false;
    // The name is reserved for the declaration, which may only open the document.
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l')
        return Fail("an XML declaration anywhere but at the very start");
    const size_t end = m_text.find("?>", m_pos);
    if (end == std::string::npos) {
        m_pos = m_text.size();
        return Fail("processing instruction not closed");
    }
    m_pos = end + 2;
    return true;
}

// Comments, processing instructions and white space outside the root element.
bool CParser::ReadMisc(bool& progressed)
{
    progressed = false;
    const size_t start = m_pos;
    SkipSpace();
    if (StartsWith("<!--")) {
        if (!ReadComment())
            return false;
    } else if (StartsWith("<?")) {
        if (!ReadProcessingInstruction())
            return false;
    } else if (StartsWith("<!DOCTYPE")) {
        return Fail("document type declarations are not accepted (they bring entity definitions and "
                    "external entities)",
                    true);
    }
    progressed = m_pos != start;
    return true;
}

bool CParser::ReadStartTag(std::vector<SElement*>& stack, std::unique_ptr<SElement>& root)
{
    if (stack.size() >= MAX_NESTING_DEPTH)
        return Fail("elements nested more than " + std::to_string(MAX_NESTING_DEPTH) + " deep", true);
    ++m_pos;
    auto element = std::make_unique<SElement>();
    if (!ReadName(element->name, "an element name after '<'") || !CountNode())
        return false;
    // An element may carry tens of thousands of attributes: each name is looked up once here.
    std::unordered_set<std::string> names;
    for (;;) {
        const size_t beforeSpace = m_pos;
        SkipSpace();
        if (AtEnd())
            return Fail("start tag <" + element->name + "> not closed");
        if (Peek() == '>' || (Peek() == '/' && Peek(1) == '>'))
            break;
        if (m_pos == beforeSpace)
            return Fail("expected white space, '>' or \"/>\" in the start tag of <" + element->name + ">");
        std::string name;
        if (!ReadName(name, "an attribute name") || !CountNode())
            return false;
        if (!names.insert(name).second)
            return Fail("attribute \"" + name + "\" given twice");
        SkipSpace();
        if (Peek() != '=')
            return Fail("expected '=' after attribute \"" + name + "\"");
        ++m_pos;
        SkipSpace();
        const uint8_t quote = Peek();
        if (quote != '"' && quote != '\'')
            return Fail("attribute \"" + name + "\" value not in quotes");
        ++m_pos;
        std::string value;
        for (;;) {
            if (AtEnd())
                return Fail("attribute \"" + name + "\" value not closed");
            const uint8_t c = Peek();
            if (c == quote) {
                ++m_pos;
                break;
            }
            if (c == '<')
                return Fail("'<' inside the value of attribute \"" + name + "\"");
            if (c == '&') {
                if (!ReadReference(value))
                    return false;
                continue;
            }
            // Literal white space in a value reads as a blank; written as a reference it stays.
            value += IsSpace(c) ? ' ' : char(c);
            ++m_pos;
        }
        element->attributes.emplace_back(std::move(name), std::move(value));
    }
    const bool empty = Peek() == '/';
    m_pos += empty ? 2 : 1;
    SElement* raw = element.get();
    if (stack.empty())
        root = std::move(element);
    else
        stack.back()->children.push_back(std::move(element));
    if (!empty)
        stack.push_back(raw);
    return true;
}

bool CParser::ReadEndTag(std::vector<SElement*>& stack)
{
    const size_t start = m_pos;
    m_pos += 2;
    std::string name;
    if (!ReadName(name, "an element name after \"</\""))
        return false;
    if (name != stack.back()->name) {
        m_pos = start;
        return Fail("end tag </" + name + "> does not match <" + stack.back()->name + ">");
    }
    SkipSpace();
    if (Peek() != '>')
        return Fail("end tag </" + name + "> not closed");
    ++m_pos;
    stack.pop_back();
    return true;
}

void CParser::AddText(SElement& element, const std::string& text)
{
    if (text.empty())
        return;
    if (!element.textRuns.empty() && element.textRuns.back().first == element.children.size())
        element.textRuns.back().second += text;
    else
        element.textRuns.emplace_back(element.children.size(), text);
}

bool CParser::ReadCharData(SElement& element)
{
    std::string text;
    while (!AtEnd() && Peek() != '<') {
        if (Peek() == '&') {
            if (!ReadReference(text))
                return false;
            continue;
        }
        if (StartsWith("]]>"))
            return Fail("\"]]>\" outside a CDATA section");
        text += char(Peek());
        ++m_pos;
    }
    AddText(element, text);
    return true;
}

bool CParser::ReadCData(SElement& element)
{
    m_pos += 9;
    const size_t end = m_text.find("]]>", m_pos);
    if (end == std::string::npos) {
        m_pos = m_text.size();
        return Fail("CDATA section not closed");
    }
    AddText(element, m_text.substr(m_pos, end - m_pos));
    m_pos = end + 3;
    return true;
}

std::unique_ptr<SElement> CParser::Run()
{
    if (m_text.size() > MAX_DOCUMENT_SIZE) {
        Fail("the document is larger than " + std::to_string(MAX_DOCUMENT_SIZE) + " bytes", true);
        return nullptr;
    }
    if (!CheckEncoding())
        return nullptr;
    if (StartsWith("\xEF\xBB\xBF"))
        m_pos = 3;
    if (StartsWith("<?xml") && (IsSpace(Peek(5)) || Peek(5) == '?')) {
        const size_t end = m_text.find("?>", m_pos);
        if (end == std::string::npos) {
            Fail("XML declaration not closed");
            return nullptr;
        }
        m_pos = end + 2;
    }
    bool progressed = true;
    while (progressed) {
        if (!ReadMisc(progressed))
            return nullptr;
    }
    if (AtEnd() || Peek() != '<' || !IsNameStart(Peek(1))) {
        Fail(AtEnd() ? "no root element" : "expected the root element");
        return nullptr;
    }
    std::unique_ptr<SElement> root;
    std::vector<SElement*> stack;
    if (!ReadStartTag(stack, root))
        return nullptr;
    while (!stack.empty()) {
        SElement& current = *stack.back();
        bool ok;
        if (AtEnd())
            ok = Fail("end of document inside <" + current.name + ">");
        else if (StartsWith("</"))
            ok = ReadEndTag(stack);
        else if (StartsWith("<!--"))
            ok = ReadComment();
        else if (StartsWith("<![CDATA["))
            ok = ReadCData(current);
        else if (StartsWith("<?"))
            ok = ReadProcessingInstruction();
        else if (StartsWith("<!"))
            ok = Fail("markup declarations are not accepted inside elements");
        else if (Peek() == '<')
            ok = ReadStartTag(stack, root);
        else
            ok = ReadCharData(current);
        if (!ok)
            return nullptr;
    }
    progressed = true;
    while (progressed) {
        if (!ReadMisc(progressed))
            return nullptr;
    }
    if (!AtEnd()) {
        Fail("content after the root element");
        return nullptr;
    }
    return root;
}

} // namespace

const std::string* SElement::Attribute(const std::string& attributeName) const
{
    for (const auto& attribute : attributes) {
        if (attribute.first == attributeName)
            return &attribute.second;
    }
    return nullptr;
}

const SElement* SElement::Child(const std::string& childName) const
{
    for (const auto& child : children) {
        if (child->name == childName)
            return child.get();
    }
    return nullptr;
}

std::string SElement::Text() const
{
    std::string text;
    size_t run = 0;
    for (size_t i = 0; i <= children.size(); ++i) {
        while (run < textRuns.size() && textRuns[run].first == i)
            text += textRuns[run++].second;
        if (i < children.size())
            text += children[i]->Text();
    }
    return text;
}

std::unique_ptr<SElement> Parse(const uint8_t* text, size_t size, SParseError& error)
{
    if (size > MAX_DOCUMENT_SIZE) {
        error = {1, 1, "the document is larger than " + std::to_string(MAX_DOCUMENT_SIZE) + " bytes", true};
        return nullptr;
    }
    return CParser(text, size, error).Run();
}

std::vector<const SElement*> ElementsByName(const SElement& root, const std::string& name)
{
    std::vector<const SElement*> found;
    // Pre-order with an explicit stack: children pushed in reverse come off in document order.
    std::vector<const SElement*> pending{&root};
    while (!pending.empty()) {
        const SElement* element = pending.back();
        pending.pop_back();
        if (element->name == name)
            found.push_back(element);
        for (auto child = element->children.rbegin(); child != element->children.rend(); ++child)
            pending.push_back(child->get());
    }
    return found;
}

} // namespace xml
} // namespace inspector
