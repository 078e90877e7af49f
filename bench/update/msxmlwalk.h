#pragma once
#include "platform/msxml.h"

namespace updatebench {

// Seconds on the performance counter.
double Now();

struct CBareTimes {
    double load = 0; // CoCreateInstance and loadXML
    double walk = 0;
    unsigned long controls = 0;
};

// What MSXML alone costs for a control file: load the text, then visit every product and control
// element and read each attribute and child the update reads, each once. Fails with a
// _com_error.
CBareTimes LoadAndWalk(const _bstr_t& text);

} // namespace updatebench
