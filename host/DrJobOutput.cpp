#include "DrJobOutput.h"

#include <stdarg.h>
#include <stdio.h>

#include <atomic>

#include "DrJobArgs.h"
#include "DrJobLab.h"
#include "DrJobStates.h"
#include "db/DBConnection.h"
#include "log/LogSink.h"

namespace {

std::atomic<bool> g_outputGone{false};

bool DatabaseLocked() { return CDrJobOutput::LastDatabaseError() == DB_BUSY; }

}  // namespace

int CDrJobOutput::Error(int code, const std::string& text) {
  fprintf(stderr, "drjob: %s\n", CDrJobArgs::Printable(text).c_str());
  return code;
}

int CDrJobOutput::LastDatabaseError() {
  CDBConnection* c = CDBConnection::ForThread();
  return c != nullptr ? c->LastErrorCode() : DB_ERROR;
}

std::string CDrJobOutput::DatabaseReason() {
  return DatabaseLocked() ? CDrJobLab::LockedText(CDBConnection::Path()) : std::string("database error, see the log");
}

int CDrJobOutput::DatabaseError(const std::string& text) {
  return Error(CDrJobStates::kExitDatabase,
               DatabaseLocked() ? text + ": " + CDrJobLab::LockedText(CDBConnection::Path()) : text);
}

void CDrJobOutput::RunLine(const char* format, ...) {
  if (g_outputGone) return;
  va_list args;
  va_start(args, format);
  const int written = vprintf(format, args);
  va_end(args);
  if (written < 0 || fflush(stdout) != 0) g_outputGone = true;
}

void CDrJobOutput::PrintCapturedErrors() {
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    if (line.level == 0) fprintf(stderr, "drjob:   %s(): %s\n", line.function.c_str(), line.text.c_str());
  }
}

void CDrJobOutput::StopCapture() {
  CLogSink::Instance().SetCapture(false);
  CLogSink::Instance().ClearCapture();
}
