// The VM replications of the sample lab as the management server stores
// them: vendors, replication task, subclient and statuses, so that the DR
// job's pre-checks accept them.
#pragma once

#include <string>

// Stores (or replaces) the sample group's replications. False with the
// reason when one cannot be stored.
bool SeedSampleReplications(std::string& error);
