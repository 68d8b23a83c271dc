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
// that class names the table. The owners are listed once, in Simulators.cpp:
// Install describes their tables from that list, CreateTables creates them,
// TableNames names them, and the tree rules check both the sources and the
// owner table of docs/architecture.md against Owners.
#pragma once

#include <string>
#include <vector>

struct SSimTableOwner {
  std::string what;        // in an error: "cannot create the tables of the <what>"
  std::string ownerClass;  // "CJobStore"
  std::string source;      // its files without the extension: "platform/jobs/JobStore"
  std::vector<std::string> tables;
};

class CSimulators {
 public:
  static void Install();

  // Creates every table the simulators own on the calling thread's
  // database (a new lab); false with the reason in error.
  static bool CreateTables(std::string& error);
  // The tables a lab database must hold, as CreateTables leaves them.
  static std::vector<std::string> TableNames();
  // Every stored table's owner.
  static std::vector<SSimTableOwner> Owners();
};
