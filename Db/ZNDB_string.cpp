#include "ZNDB_string.h"

ZNDB_string::~ZNDB_string() = default;
