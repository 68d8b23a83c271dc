// The host's seeding, built against the platform library alone: the
// simulated server describes and creates every table it serves by itself,
// so a lab can be made without the system library loaded. Makes a lab in a
// fresh folder and checks that every table of the simulators is in it.
//
//   dr_seed_platform_only FOLDER
//
// Exit 0 when the lab was made and holds every table (the folder is then
// removed); else one line and 1, the folder kept for a look.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/DrJobLab.h"
#include "core/RunFolder.h"
#include "db/DBConnection.h"
#include "sim/Simulators.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: dr_seed_platform_only FOLDER\n");
    return 2;
  }
  std::string folder = std::string(argv[1]) + "/seed.XXXXXX";
  if (mkdtemp(&folder[0]) == nullptr) {
    fprintf(stderr, "cannot make a folder below [%s]\n", argv[1]);
    return 1;
  }
  CRunFolder::Set(folder);
  CRunFolder::SetLockPath(folder + "/locks");
  CSimulators::Install();
  const std::string lab = folder + "/lab.db";
  bool replaced = false;
  std::string error;
  if (!CDrJobLab::Seed(lab, false, replaced, error)) {
    fprintf(stderr, "seed failed: %s\n", error.c_str());
    return 1;
  }
  // The simulators' own tables, and those the system reaches through its
  // bindings, all described by their owners.
  if (!CSimulators::CreateTables(error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  SDBSchemaCheck check;
  check.tables = CSimulators::TableNames();
  CDBConnection::CloseThreadConnections();
  if (CDBConnection::CheckSchema(lab, check) != DB_OK) {
    fprintf(stderr, "the lab lacks table [%s] (%s)\n", check.missingTable.c_str(), check.error.c_str());
    return 1;
  }
  printf("seeded [%zu] tables\n", check.tables.size());
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
