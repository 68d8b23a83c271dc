#include "host/TypeTable.h"

#include <ctype.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "host/DrJobTestSupport.h"

namespace typejudge {

namespace {

const char* const kHeader = "| kind | type | failover status | sync status | test failover status | runs | discards | removes |";
const char* const kFailedOverWords = "A machine **stands failed over** while its failover status is";

// The words a cell may hold, by column.
const char* const kStatusWords[] = {"none", "unchanged", "no record", "-"};
const char* const kRuns[] = {"source VM", "DR VM", "both VMs", "DR mount", "DR database", "unchanged"};
const char* const kDiscards[] = {"source VM content", "DR VM content", "DR VM"};
const char* const kWhen[] = {"", " while failed over", " while not failed over"};
const char* const kRemovals[] = {"replication record",      "failover snapshot",     "source snapshot",
                                 "source snapshot reference", "point-in-time snapshots", "source VM's snapshots",
                                 "DR VM"};

std::string Trimmed(const std::string& text) {
  const size_t from = text.find_first_not_of(' ');
  if (from == std::string::npos) return std::string();
  return text.substr(from, text.find_last_not_of(' ') - from + 1);
}

// A cell's text without what it says in parentheses (why).
std::string WithoutWhy(std::string text) {
  for (size_t open; (open = text.find(" (")) != std::string::npos;) {
    const size_t close = text.find(')', open);
    text.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
  }
  return Trimmed(text);
}

std::vector<std::string> Split(const std::string& text, const std::string& between) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (true) {
    const size_t next = text.find(between, at);
    parts.push_back(Trimmed(text.substr(at, next == std::string::npos ? std::string::npos : next - at)));
    if (next == std::string::npos) return parts;
    at = next + between.size();
  }
}

bool Known(const std::string& word, const char* const* words, size_t count) {
  return std::find(words, words + count, word) != words + count;
}

// A status cell: "or" between statuses, each a known word or a status text
// (capitalised words).
bool IsStatusCell(const std::string& cell) {
  for (const std::string& part : Split(cell, " or ")) {
    if (part.empty()) return false;
    if (!Known(part, kStatusWords, std::size(kStatusWords)) && !isupper(static_cast<unsigned char>(part[0]))) {
      return false;
    }
  }
  return true;
}

bool IsDiscard(const std::string& item) {
  for (const char* what : kDiscards) {
    for (const char* when : kWhen) {
      if (item == std::string(what) + when) return true;
    }
  }
  return false;
}

// A row of the table, or a failure naming the cell that cannot be read.
bool ReadRow(const std::string& line, SPlace& place, std::string& error) {
  std::vector<std::string> cells = Split(line, "|");
  if (cells.size() != 10) {
    error = "a row of " + std::to_string(cells.size() - 2) + " cells: " + line;
    return false;
  }
  std::istringstream type(cells[2]);
  type >> place.type;
  for (std::string flag; type >> flag;) place.flags.push_back(flag);
  place.kind = cells[1];
  place.failover = WithoutWhy(cells[3]);
  place.sync = WithoutWhy(cells[4]);
  place.test = WithoutWhy(cells[5]);
  place.runs = WithoutWhy(cells[6]);
  for (const std::string* status : {&place.failover, &place.sync, &place.test}) {
    if (!IsStatusCell(*status)) error = "a status the judge does not know [" + *status + "]: " + line;
  }
  if (!Known(place.runs, kRuns, std::size(kRuns))) error = "a runs cell the judge does not know: " + line;
  const std::string discards = WithoutWhy(cells[7]);
  if (discards != "nothing") {
    for (const std::string& item : Split(discards, ";")) {
      if (!IsDiscard(item)) error = "a discard the judge does not know [" + item + "]: " + line;
      place.discards.push_back(item);
    }
  }
  const std::string removes = WithoutWhy(cells[8]);
  if (removes != "nothing") {
    for (const std::string& item : Split(removes, ";")) {
      if (!Known(item, kRemovals, std::size(kRemovals))) {
        error = "a removal the judge does not know [" + item + "]: " + line;
      }
      place.removes.push_back(item);
    }
  }
  return error.empty();
}

struct STable {
  std::vector<SPlace> rows;
  std::vector<std::string> failedOver;
  std::string error;
};

const STable& Read() {
  static const STable table = [] {
    STable t;
    const std::string path = std::string(DR_SOURCE_DIR) + "/docs/engine.md";
    const std::string text = drtest::ReadFile(path);
    std::istringstream in(text);
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
      if (line == kHeader) {
        inTable = true;
        continue;
      }
      if (inTable && line.rfind("|---", 0) == 0) continue;
      if (inTable && line.rfind("| ", 0) == 0) {
        SPlace place;
        if (!ReadRow(line, place, t.error)) break;
        t.rows.push_back(place);
        continue;
      }
      inTable = false;
    }
    // The statuses: the paragraph's words up to the colon, joined across
    // its lines.
    std::string flat = text;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    const size_t at = flat.find(kFailedOverWords);
    if (at != std::string::npos) {
      const size_t from = at + std::string(kFailedOverWords).size();
      std::string list = flat.substr(from, flat.find(':', from) - from);
      for (std::string part : Split(list, ",")) {
        if (part.rfind("or ", 0) == 0) part = part.substr(3);
        for (const std::string& status : Split(part, " or ")) t.failedOver.push_back(status);
      }
    }
    if (t.rows.empty() && t.error.empty()) t.error = "no table [" + std::string(kHeader) + "] in " + path;
    if (t.failedOver.empty() && t.error.empty()) t.error = "no [" + std::string(kFailedOverWords) + "] in " + path;
    return t;
  }();
  return table;
}

}  // namespace

bool SPlace::Discards(const std::string& what) const {
  return std::find(discards.begin(), discards.end(), what) != discards.end();
}

bool SPlace::Removes(const std::string& what) const {
  return std::find(removes.begin(), removes.end(), what) != removes.end();
}

const std::vector<SPlace>& Table() {
  const STable& table = Read();
  EXPECT_EQ("", table.error) << "docs/engine.md's table of where each DR type puts a machine";
  return table.rows;
}

const std::vector<std::string>& FailedOverStatuses() {
  Table();
  return Read().failedOver;
}

bool StandsFailedOver(const std::string& failoverStatus) {
  const std::vector<std::string>& statuses = FailedOverStatuses();
  return std::find(statuses.begin(), statuses.end(), failoverStatus) != statuses.end();
}

std::string KindOf(const std::string& group) {
  if (group == "SampleArray") return "storage array";
  if (group == "SampleDB") return "database";
  return "VM";
}

const SPlace* PlaceOf(const std::string& group, const std::string& type, const std::vector<std::string>& options) {
  const SPlace* best = nullptr;
  for (const SPlace& place : Table()) {
    if (place.kind != KindOf(group) || place.type != type) continue;
    const bool all = std::all_of(place.flags.begin(), place.flags.end(), [&options](const std::string& flag) {
      return std::find(options.begin(), options.end(), flag) != options.end();
    });
    if (all && (best == nullptr || place.flags.size() > best->flags.size())) best = &place;
  }
  return best;
}

}  // namespace typejudge
