// Feeds arbitrary bytes to the inspector's XML reader, which reads control files copied from
// customers' machines: it must either refuse them with a position and a reason, or hand out a
// tree whose root is the first element of its own name and whose text can be collected.
#include <cstdint>
#include <memory>

#include "xmlreader.h"
#include "check.h"

using namespace inspector::xml;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SParseError error;
    const std::unique_ptr<SElement> root = Parse(data, size, error);
    if (!root) {
        Check(error.line >= 1 && error.column >= 1 && !error.reason.empty());
        return 0;
    }
    const auto named = ElementsByName(*root, root->name);
    Check(!named.empty() && named.front() == root.get());
    Check(root->Text().size() <= size);
    return 0;
}
