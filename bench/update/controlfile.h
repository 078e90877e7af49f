#pragma once
#include <string>

namespace updatebench {

// A plain control file of `controls` control elements spread over several product elements,
// alternately of type "Submission" and "Detection", every one with a key of its own so that each
// becomes a configuration. Half the servers name their protocol, half leave the default.
std::string MakeControlFile(unsigned long controls);

} // namespace updatebench
