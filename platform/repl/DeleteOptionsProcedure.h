// The stored procedure "AppVSAReplicationsDeleteOptions" of the simulated
// management database: its one input is the XML of a DR job's orchestration
// options (TMMsg::DROrchestrationOption); it deletes, with their properties,
// the replications the options list (kReplicationInfo, kReplicationIds),
// takes them out of every DR group that names them (CLabStore), and answers
// App::GenericResp as its one text row: error code 0 when each is gone (one
// that was not there counts as gone), non-zero with a message when one
// could not be deleted or its groups not rewritten (then nothing changes:
// one transaction). Options it cannot read fail the procedure. Faults by the
// procedure's name (CStandIns).
#pragma once

class CDeleteOptionsProcedure {
 public:
  static constexpr const char* kName = "AppVSAReplicationsDeleteOptions";
  // Registers the procedure (CSimulators::Install).
  static void Register();
};
