// Whole-session reads that no Windows API offers: every property of a session,
// every table of a database with its rows and which of them are temporary.
// Tools that show what an action changed (viduzo-run) read the state through these.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/msi/database.h"
#include "winsim/msi/session.h"

namespace winsim {

std::map<std::string, std::string> SessionProperties(MSIHANDLE install) {
  auto session = GetSession(install);
  if (!session) return {};
  return session->properties;
}

std::vector<TableContent> DatabaseTables(MSIHANDLE handle) {
  std::shared_ptr<Database> db;
  if (auto session = GetSession(handle))
    db = session->database;
  else
    db = Get<Database>(handle);
  std::vector<TableContent> tables;
  if (!db) return tables;
  for (const auto& [name, table] : db->tables) {
    if (table->dropped) continue;
    TableContent content;
    content.name = name;
    content.keyCount = table->keyCount;
    content.temporary = table->temporary;
    for (const Column& column : table->columns) {
      content.columns.push_back(column.name);
      content.types.push_back(column.TypeText());
    }
    for (const auto& [key, row] : table->rows) {
      TableRowContent out;
      out.temporary = row->temporary;
      for (std::size_t i = 0; i < table->columns.size(); ++i) {
        Field field = CellToField(*db, table->columns[i], row->cells[i]);
        out.fields.push_back(field.kind == Field::kStream ? field.text : field.AsText());
      }
      content.rows.push_back(std::move(out));
    }
    tables.push_back(std::move(content));
  }
  return tables;
}

}  // namespace winsim
