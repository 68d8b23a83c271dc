#include "array/ArrayCallJournal.h"

#include "jobsim/SimSql.h"
#include "time/PlatformClock.h"

namespace {

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_ArrayCalls (seq INTEGER PRIMARY KEY AUTOINCREMENT, atMs INTEGER NOT NULL,"
      " controlHostId INTEGER NOT NULL, call TEXT NOT NULL, arguments TEXT NOT NULL, result TEXT NOT NULL)");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CArrayCallJournal::kTable, CreateTable); }

EStoreResult Select(const char* function, const std::string& where, int controlHostId, std::vector<SArrayCall>& out) {
  CSimStatement s(Ready(function), function,
                  "SELECT seq, atMs, controlHostId, call, arguments, result FROM PLT_ArrayCalls" + where +
                      " ORDER BY seq");
  if (!where.empty()) s.Bind(controlHostId);
  std::vector<SArrayCall> rows;
  while (s.Next()) {
    SArrayCall c;
    c.seq = s.Int(0);
    c.atMs = s.Int(1);
    c.controlHostId = static_cast<int>(s.Int(2));
    c.call = s.Text(3);
    c.arguments = s.Text(4);
    c.result = s.Text(5);
    rows.push_back(c);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

}  // namespace

const char* ArrayAnswerText(EArrayAnswer answer) {
  switch (answer) {
    case EArrayAnswer::kOk: return "ok";
    case EArrayAnswer::kNotFound: return "not found";
    case EArrayAnswer::kFault: return "fault";
    case EArrayAnswer::kRefused: return "refused";
    case EArrayAnswer::kNotConnected: return "not connected";
    case EArrayAnswer::kFailed: return "database error";
  }
  return "?";
}

bool CArrayCallJournal::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CArrayCallJournal::Record(int controlHostId, const std::string& call, const std::string& arguments,
                               const std::string& result) {
  CSimStatement s(Ready("Record"), "Record",
                  "INSERT INTO PLT_ArrayCalls (atMs, controlHostId, call, arguments, result) VALUES (?, ?, ?, ?, ?)");
  s.Bind(CPlatformClock::Instance().NowEpochMs()).Bind(controlHostId).Bind(call).Bind(arguments).Bind(result);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CArrayCallJournal::All(std::vector<SArrayCall>& out) { return Select("All", "", 0, out); }

EStoreResult CArrayCallJournal::OfHost(int controlHostId, std::vector<SArrayCall>& out) {
  return Select("OfHost", " WHERE controlHostId = ?", controlHostId, out);
}

bool CArrayCallJournal::Clear() {
  CSimStatement s(Ready("Clear"), "Clear", "DELETE FROM PLT_ArrayCalls");
  return s.Run() == EStoreResult::kOk;
}
