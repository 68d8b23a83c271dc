// The failback benchmark's cases that take minutes: left out of a plain
// run, registered when the command line's filter names their size.
#pragma once

#include <string>

void RegisterLargeFailbackCases(const std::string& filter);
