#include "ZNDB_datetime.h"

ZNDB_datetime::~ZNDB_datetime() = default;
