// What "drjob lab" shows and steers: the hypervisor lab (sites, proxies,
// VMs, replicas), the statuses of the VM, database and storage-array
// replications, the database hosts, the array lab (arrays, volume
// relationships, LUNs, archive files and the calls the arrays were given)
// and the subclients' activity, read and changed through their owners.
#pragma once

#include <string>

#include "core/StoreResult.h"
#include "vm/LabModel.h"

class CDrJobLabView {
 public:
  // Prints every section; false when a part of the lab cannot be read (the
  // sections after it are not printed). A record that is listed but cannot
  // be read is a line of its section saying so, counted in unreadable.
  static bool Show(int& unreadable);
  // Takes the site, proxy, array or client of that name down or up (in that
  // order of look-up); kMissing when the lab has none.
  static EStoreResult SetDown(const std::string& name, bool down);
  // The hypervisor lab's VM of that name, on any instance.
  static EStoreResult FindVM(const std::string& name, SLabVM& out);
};
