// Watches a lab as a DR job's run does (CLabWatch) while one writer of the
// process holds its turn to write. Once the watcher has seen another file
// at the path, made its first checkpoint and said so in the log, the writer
// commits a row and only then gives the turn up: the watcher's second
// checkpoint, taken with the turn, is the only one that can carry that row
// into the file the process opened.
//
//   dr_labwatch_helper <database>
//       writes the row "before", prints "WATCHING" once the watcher runs;
//       after the test moves the lab away, writes the row "after" between
//       the watcher's checkpoints and ends with the watcher's exit code
//       (17); 3 when the watcher never got that far.
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "db/DBConnection.h"
#include "db/DBWriterQueue.h"
#include "host/DrJobLabWatch.h"
#include "log/LogErrorWatch.h"

namespace {

const long long kJobId = 7;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <database>\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  CDBConnection writer(path);
  if (!writer.IsOpen() || writer.Exec("CREATE TABLE IF NOT EXISTS probe (x TEXT)") != DB_OK ||
      writer.Exec("INSERT INTO probe VALUES ('before')") != DB_OK) {
    fprintf(stderr, "cannot write [%s]\n", path.c_str());
    return 2;
  }
  // The turn the watcher's second checkpoint waits for, held from before the
  // lab moves; the row below is written outside the queue, as a writer that
  // already holds its turn writes.
  std::shared_ptr<CDBWriterQueue> queue = CDBWriterQueue::ForPath(path);
  if (!queue->Enter(60000)) return 2;
  CLogErrorWatch said(kJobId);
  CLabWatch watch;
  std::string error;
  if (!watch.Start(path, kJobId, error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  printf("WATCHING\n");
  fflush(stdout);
  // Real time: the test moves the file in real time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (said.Last().find("LabWatch(): The lab [") != 0) {
    if (std::chrono::steady_clock::now() > deadline) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer.Exec("INSERT INTO probe VALUES ('after')") != DB_OK) return 4;
  queue->Leave();
  // The watcher ends the process.
  std::this_thread::sleep_for(std::chrono::seconds(60));
  return 3;
}
