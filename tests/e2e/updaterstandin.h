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

extern const char kEngineProduct[];      // "{5D7B2E90-4C18-4A3F-8E61-B02F9D4C7A13}"
extern const char kControlDataProduct[]; // "{3B6E0A2F-91C7-4d5e-A2B4-7F1C8E0D5962}"

// RegisterPR's phase lines of one call: the action and its sequence, each begun and ended.
std::vector<std::string> RegisterPRLines(const std::string& phase);
// The phase lines of a failed installation: the deferred call fails in the action, the rollback
// call runs whole.
std::vector<std::string> FailedRegistrationLines();

// The journal lines of one registration of both products, or of one removal.
std::vector<std::string> RegistrationCalls();
std::vector<std::string> RemovalCalls();
// The products file after both were registered.
std::string RegisteredProducts();

} // namespace testsupport
