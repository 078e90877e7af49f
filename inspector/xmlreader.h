// A small strict XML reader for the control file. The module hands the file to MSXML; the tool
// must also run natively, so it reads the subset a control file uses (elements, attributes,
// text, CDATA, character and predefined entity references) and refuses everything it cannot
// read safely (document type declarations, and with them entity definitions and external
// entities). Input size and nesting depth are bounded, and the reader keeps its own stack, so a
// hostile file costs at most a bounded amount of memory and never exhausts the call stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace inspector {
namespace xml {

constexpr size_t MAX_DOCUMENT_SIZE = 16 * 1024 * 1024;
constexpr size_t MAX_NESTING_DEPTH = 256;
// Elements and attributes together: what the reader keeps of a document is bounded by their
// number, far beyond any control file.
constexpr size_t MAX_NODES = 100000;

// One element; names, values and text are UTF-8 with references already replaced.
struct SElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes; // in document order
    std::vector<std::unique_ptr<SElement>> children;
    // Character data and where it sits: each run follows the first `first` children.
    std::vector<std::pair<size_t, std::string>> textRuns;

    // Null when the attribute is absent.
    const std::string* Attribute(const std::string& attributeName) const;
    // The first child element of that name, or null.
    const SElement* Child(const std::string& childName) const;
    // All character data of the element and its descendants in document order.
    std::string Text() const;
};

struct SParseError {
    size_t line = 0;    // 1-based
    size_t column = 0;  // 1-based, in bytes
    std::string reason; // names from the document in it as they are: escape before printing
    // The reader stopped at one of its own bounds (size, depth, nodes, a document type declaration),
    // not at a fault of the document: MSXML may read such a document.
    bool toolLimit = false;
};

// Parses a whole document. Null and error filled in when the text is not well-formed or uses
// what the reader refuses.
std::unique_ptr<SElement> Parse(const uint8_t* text, size_t size, SParseError& error);

// Every element named name, the root included, in document order.
std::vector<const SElement*> ElementsByName(const SElement& root, const std::string& name);

} // namespace xml
} // namespace inspector
