// Symbols the host process reaches in the system library. Everything else is
// hidden.
#pragma once

#define DR_EXPORT __attribute__((visibility("default")))
