// The meanings of the tables' fields, handed to the record-edit dialog.
#include <string>
#include <vector>

#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "runtime/gbk.h"

namespace app {

void registerFieldMeanings() {
  forEachFieldMeanings([](const TableDef& def, std::span<const char* const> utf8) {
    std::vector<std::string> names, meanings;
    for (const FieldDef& f : def.fields) names.emplace_back(f.name);
    for (const char* m : utf8) meanings.push_back(rt::utf8ToGbk(m));
    db::setFieldMeanings(names, meanings);
  });
  // The user list's passwords.
  std::vector<std::string> users;
  for (const FieldDef& f : kUsers.fields) users.emplace_back(f.name);
  db::setSecretField(users, "ma");
}

}  // namespace app
