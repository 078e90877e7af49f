#pragma once
#include <string>
#include <vector>

// The updater stand-in as a test sees it: registered in the prefix, its journal and products.
namespace testsupport {

class UpdaterStandIn {
public:
    // Registers the COM classes and starts with no products, no journal and no failure.
    UpdaterStandIn();
    ~UpdaterStandIn();

    void Unregister(); // the updater is absent
    // Makes the named call fail (see the stand-in's switches), optionally only for calls whose
    // argument contains match.
    void Fail(const wchar_t* call, const wchar_t* match = L"");

    std::vector<std::string> Journal(); // and starts a new one
    std::string Products();             // the products file as text
};

} // namespace testsupport
