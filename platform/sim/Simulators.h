// The simulated management server, put together. The platform's request
// entries (XMLHandler, EvTask, App_ExecuteSP, CDBProcRegistry) know no
// handler of their own; Install registers the simulators' handlers with
// them, explicitly and in one place, so no lower platform area reaches up
// into the simulators and nothing depends on static initialisers.
//
// Install also joins the labs where one's calls change the other's state:
// the hypervisor lab's snapshot mounts and unmounts of an afile change that
// afile in the array lab (a mount hook, CHypervisorLab::MountHooks).
//
// The host calls Install once at start-up, before any command; the test
// and benchmark programs do the same. Calling it again puts every built-in
// handler back (a test that replaced one without a CScopedHandler).
//
// Each stored table of the simulated server has one owner class, and only
// that class names the table: CJobStore, CLabStore, CTaskStore,
// CPhaseRowStore (jobs/), CReplicationStore, CReplicaSyncStore (repl/),
// CClientStore, ClientProperties, CSubclientActivityStore, CClientActivityStore,
// CActivityControlStore, CRemoteExecStore, CDatabaseHosts and the owners of
// the server's VM, instance-property and application tables, CAppVMStore,
// CInstancePropStore and CApplicationStore (appmgr/), the job simulator's
// CSimJobStore, CJobManagerRows, CJobNotices and CStoragePolicyStore
// (jobsim/), the task manager's CVMStatusStore (tasksim/), the hypervisor
// lab's CHypervisorStore (vm/), and the array lab's CArrayStore,
// CArrayRelationshipStore, CArrayLunStore, CArrayCallJournal,
// CSnapReplicationStore, CAfileStore and CReplicaGroupReportStore (array/).
// docs/architecture.md lists which owns what.
#pragma once

#include <string>
#include <vector>

class CSimulators {
 public:
  static void Install();

  // Creates every table the simulators own on the calling thread's
  // database (a new lab); false with the reason in error.
  static bool CreateTables(std::string& error);
  // The tables a lab database must hold, as CreateTables leaves them.
  static std::vector<std::string> TableNames();
};
