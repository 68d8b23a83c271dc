// Compiler checks of printf-style formats. Member functions count `this` as
// the first argument.
#pragma once

#define DR_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
