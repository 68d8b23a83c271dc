// Bounded string copy: at most size-1 characters and always a terminator
// (when size > 0). Returns 0, or non-zero when the text was cut or an
// argument was missing.
#pragma once

int strcpy_s(char* dest, unsigned long size, char const* src);
