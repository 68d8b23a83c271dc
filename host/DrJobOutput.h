// How drjob's commands speak: one error line on standard error, the lines of
// a run on standard output (each written out at once), and the reason a
// database call failed. Text a user gave is made printable first
// (CDrJobArgs::Printable), so no echoed name breaks a line.
#pragma once

#include <string>

#include "core/Printf.h"

class CDrJobOutput {
 public:
  // "drjob: TEXT" on standard error; code.
  static int Error(int code, const std::string& text);
  // A failed read or write of the lab: the line, and why when another
  // process holds the database; kExitDatabase.
  static int DatabaseError(const std::string& text);
  // The library's code of the calling thread's last failed database call.
  static int LastDatabaseError();
  // Why the last database call failed, for the end of an error line.
  static std::string DatabaseReason();

  // One line of a run on standard output. A reader that went away
  // (drjob run ... | head) must not end or hold up the DR job: once a line
  // cannot be written, the later ones are dropped.
  static void RunLine(const char* format, ...) DR_PRINTF(1, 2);

  // Error lines logged while capture was on: what the user needs to see when
  // a start-up step fails. Capture stays on only around start-up.
  static void PrintCapturedErrors();
  static void StopCapture();
};
