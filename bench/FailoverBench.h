// The failover benchmark's cases that take minutes: left out of a plain run,
// registered when the command line's filter names them.
#pragma once

void RegisterLargeFailoverCases();
