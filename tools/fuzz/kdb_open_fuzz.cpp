// libFuzzer harness for the open path: the input is split into a database
// file and its auxiliary file, opened read-only and read-write (which may
// repair), and every record and field is read, a scan is run and the table
// is copied. Any crash, hang or sanitizer report is a fault; engine error
// codes are the expected outcome for damaged input.
//
// Built and run by hand (see tools/fuzz/run), not by ./test.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/engine.h"
#include "db/facade.h"

namespace {

void writeFile(const char* path, const uint8_t* data, size_t n) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) std::abort();
  if (n) std::fwrite(data, 1, n, f);
  std::fclose(f);
}

void exercise() {
  const int n = cmd::RecordCount();
  const int fields = cmd::FieldCount();
  for (int r = 1; r <= n && r <= 50; ++r) {
    cmd::MoveTo(r);
    for (int f = 1; f <= fields; ++f) cmd::ReadField(f);
  }
  auto never = [] { return rt::makeBool(false); };
  rt::Expr cond(never);
  cmd::MoveFirst();
  cmd::FindRecord(cond.arg());
  cmd::CopyRecords("copy", cond.arg());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/kdbfuzz.XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  db::registerDatabaseCommands();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first two bytes say where the database file ends.
  if (size < 2) return 0;
  size_t split = (size_t(data[0]) | size_t(data[1]) << 8) % (size - 1);
  data += 2;
  size -= 2;
  writeFile("f.kdb", data, split);
  writeFile("f.kdt", data + split, size - split);
  if (cmd::OpenDatabase("f", "", true)) exercise();
  db::closeAllDatabases();
  if (cmd::OpenDatabase("f")) exercise();
  db::closeAllDatabases();
  return 0;
}
