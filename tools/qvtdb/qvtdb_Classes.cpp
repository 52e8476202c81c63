// qvtdb classes: every table class stored in the metadata pool, in name
// order, with its fields in stored order and their types.
#include <algorithm>
#include <iostream>

#include "qvtdb_Database.h"
#include "qvtdb_Tool.h"

int qvtdb_Classes(const std::string& file) {
  qvtdb_OpenDatabase db(file);
  const std::vector<cow_String> names = db.database.GetTableMetadataNames();
  if (names.empty()) std::cout << "no table classes\n";
  for (const cow_String& name : names) {
    const qvt_TableMetadata& metadata = db.database.GetTableMetadata(name);
    const utl_FileOffset record = db.database.GetTableMetadataHandle(name);
    std::cout << name << "  (" << metadata.FieldMap().size() << " fields, record at offset " << record
              << " of the metadata pool)\n";
    std::size_t width = 0;
    for (const auto& entry : metadata.FieldMap()) width = std::max(width, entry.first.size());
    for (const auto& entry : metadata.FieldMap()) {
      std::cout << "  " << entry.first << std::string(width - entry.first.size() + 2, ' ')
                << qvtdb_TypeName(entry.second.Type()) << '\n';
    }
  }
  return qvtdb_ExitOk;
}
