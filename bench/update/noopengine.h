#pragma once
#include "update/engineinterfaces.h"

namespace updatebench {

// What the engine was asked to do, enough to check that every control became a saved
// configuration, and what it lists as already stored.
struct CEngineCounts {
    // LoadConfigs lists this many configurations, as an earlier update of the same size would
    // have left them, so that the removal loop runs too.
    unsigned long existing = 0;
    unsigned long configsMade = 0;
    unsigned long configsSaved = 0;
    unsigned long configsRemoved = 0;
    unsigned long engineSaves = 0;
    // The engine's objects not yet released.
    long liveObjects = 0;
};

// An engine that stores nothing, so that a timed update measures the module and not the engine.
// Returns a configuration manager holding one reference; counts must outlive every object.
clfs::svc::IConfigManager* NewNoopEngine(CEngineCounts& counts);

} // namespace updatebench
