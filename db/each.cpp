#include "db/each.h"

#include "db/engine.h"
#include "db/errors.h"
#include "db/table.h"

namespace db {

int forEachRecord(const std::function<void()>& step, bool wholeLock) {
  {
    // One engine call: an I/O error met here drops the handles and is
    // reported as such (EngineCall), which the last error then says.
    EngineCall call;
    Table* t = currentTable();
    if (!t) {
      setLastError(kNoCurrentDatabase);
      return kNoCurrentDatabase;
    }
    const int rc = t->scanToRead(0, wholeLock, [&step](int32_t, uint8_t*) {
      step();
      return 0;
    });
    setLastError(rc);
  }
  return lastError();
}

}  // namespace db
