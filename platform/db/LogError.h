// Error line of the database library: the source file and line, then the
// text.
#pragma once

#include "core/Printf.h"

void log_error(char const* file, int line, char const* format, ...) DR_PRINTF(3, 4);
