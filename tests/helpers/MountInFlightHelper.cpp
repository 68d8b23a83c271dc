// Begins snapshot mounts in flight in the hypervisor lab of a database and
// ends without ending them, as a DR job killed during its mount leaves them:
// once it has exited, its records name a process that has gone.
//
//   dr_mount_helper <database> <instance id> <datastore>...
//       prints "BEGUN <token>" and exits 0, or exits 1.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "db/DBConnection.h"
#include "vm/HypervisorStore.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s <database> <instance id> <datastore>...\n", argv[0]);
    return 2;
  }
  CDBConnection::SetPath(argv[1]);
  const std::vector<std::string> datastores(argv + 3, argv + argc);
  const long long token = CHypervisorStore::NextValue("mount-call");
  int overlaps = 0;
  const bool begun = token > 0 && CHypervisorStore::BeginMountInFlight(atoll(argv[2]), datastores, token, overlaps);
  CDBConnection::CloseThreadConnections();
  if (!begun) return 1;
  printf("BEGUN %lld\n", token);
  return 0;
}
