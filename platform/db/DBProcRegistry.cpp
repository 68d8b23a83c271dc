#include "db/DBProcRegistry.h"

#include <map>

#include "core/Mutex.h"

namespace {

// The faults and close counts tests set and read; the handlers have a
// registry of their own. Never destroyed: a procedure may still close while
// the process exits.
CMutex g_mutex;
std::map<std::string, int>* const g_faults DR_PT_GUARDED_BY(g_mutex) = new std::map<std::string, int>();
std::map<std::string, int>* const g_closes DR_PT_GUARDED_BY(g_mutex) = new std::map<std::string, int>();

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
  CMutexLock lk(g_mutex);
  if (fault == DB_PROC_FAIL_NONE) {
    g_faults->erase(name);
  } else {
    (*g_faults)[name] = fault;
  }
}

int CDBProcRegistry::Fault(const std::string& name) {
  CMutexLock lk(g_mutex);
  if (g_faults->empty()) return DB_PROC_FAIL_NONE;
  auto it = g_faults->find(name);
  return it == g_faults->end() ? DB_PROC_FAIL_NONE : it->second;
}

void CDBProcRegistry::CountClose(const std::string& name) {
  CMutexLock lk(g_mutex);
  ++(*g_closes)[name];
}

int CDBProcRegistry::CloseCount(const std::string& name) {
  CMutexLock lk(g_mutex);
  auto it = g_closes->find(name);
  return it == g_closes->end() ? 0 : it->second;
}

void CDBProcRegistry::ResetCounters() {
  CMutexLock lk(g_mutex);
  g_closes->clear();
  g_faults->clear();
}
