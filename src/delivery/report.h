// The console report of a video run.
#pragma once

#include "common/run_state.h"

// Prints the heading, then one line per selected service in table order with
// its count text, then the credit line.
void print_report(const run_state &run);
