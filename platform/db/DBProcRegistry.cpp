#include "db/DBProcRegistry.h"

#include <map>
#include <mutex>


namespace {
std::mutex g_mutex;
std::map<std::string, int>& Faults() {
  static auto* m = new std::map<std::string, int>();
  return *m;
}
std::map<std::string, int>& Closes() {
  static auto* m = new std::map<std::string, int>();
  return *m;
}
}  // namespace

DBProcHandlerRegistry& CDBProcRegistry::Handlers() {
  static auto* registry = new DBProcHandlerRegistry();
  return *registry;
}

void CDBProcRegistry::Register(const std::string& name, DBProcHandler handler) {
  Handlers().Register(name, std::move(handler));
}

void CDBProcRegistry::Unregister(const std::string& name) { Handlers().Unregister(name); }

bool CDBProcRegistry::Find(const std::string& name, DBProcHandler& out) { return Handlers().Find(name, out); }

void CDBProcRegistry::SetFault(const std::string& name, int fault) {
  std::lock_guard<std::mutex> lk(g_mutex);
  if (fault == DB_PROC_FAIL_NONE) {
    Faults().erase(name);
  } else {
    Faults()[name] = fault;
  }
}

int CDBProcRegistry::Fault(const std::string& name) {
  std::lock_guard<std::mutex> lk(g_mutex);
  if (Faults().empty()) return DB_PROC_FAIL_NONE;
  auto it = Faults().find(name);
  return it == Faults().end() ? DB_PROC_FAIL_NONE : it->second;
}

void CDBProcRegistry::CountClose(const std::string& name) {
  std::lock_guard<std::mutex> lk(g_mutex);
  ++Closes()[name];
}

int CDBProcRegistry::CloseCount(const std::string& name) {
  std::lock_guard<std::mutex> lk(g_mutex);
  auto it = Closes().find(name);
  return it == Closes().end() ? 0 : it->second;
}

void CDBProcRegistry::ResetCounters() {
  std::lock_guard<std::mutex> lk(g_mutex);
  Closes().clear();
  Faults().clear();
}
