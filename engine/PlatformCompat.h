// Small helpers the code base shares with its older platform dialect.
#pragma once

#include "core/Printf.h"

// strcasecmp: negative, 0 or positive.
int _stricmp(const char* a, const char* b);

// The calling thread's id (pthread_self).
unsigned long GetCurrentThreadId();

// vsnprintf into buf of the given size; returns what vsnprintf returns.
int ET_snprintf(char* buf, int size, const char* fmt, ...) DR_PRINTF(3, 4);
