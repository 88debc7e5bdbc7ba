// The checks of the fuzz targets, shared with the test that replays the
// kept inputs in every build. Each aborts on a finding; the engine's and the
// reader's own run-time errors are answers, not findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Carrier.h"
#include "Dialect.h"
#include "Files_.h"
#include "RunError.h"
#include "Variant.h"

namespace FuzzChecks {

// Declares every column a type picked by its name, and gives every table
// the columns a, b and c: the values of any INSERT or UPDATE get wrapped.
struct AnySchema final : Dialect::Schema {
  std::optional<int> ColumnType(const std::string&, const std::string&, const std::string& column) const override {
    static constexpr int kTypes[] = {2, 3, 4, 5, 6, 7, 11, 17, 72, 202, 203, 205};
    if (column.empty()) return std::nullopt;
    return kTypes[static_cast<unsigned char>(column[0]) % (sizeof kTypes / sizeof kTypes[0])];
  }
  std::vector<std::string> InsertColumns(const std::string&, const std::string&) const override {
    return {"a", "b", "c"};
  }
};

// The dialect rewriter: a statement, and its translation, is translated or
// refused (twice need not give one text: after "Select Top 1" a column may be
// named Top). A statement to run is also wrapped for its writes, and read again.
inline void TranslateSql(const std::uint8_t* data, std::size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  try {
    (void)Dialect::TranslateSql(Dialect::TranslateSql(sql));
  } catch (const Platform::RunError&) {
  }
  const AnySchema schema;
  try {
    (void)Dialect::Translate(Dialect::Translate(sql, schema, false).sql, schema, false);
  } catch (const Platform::RunError&) {
  }
}

// The chart reader: the bytes become the chart file at `path`, read line by
// line as the import does, each line split and field 2 tested for a number.
inline void ChartLines(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);

  Files_::InputFile file;
  std::size_t bytesRead = 0;
  try {
    file.Open(path);
    while (!file.AtEnd()) {
      const std::string line = file.ReadLine();
      bytesRead += line.size();
      if (bytesRead > size) std::abort();  // a line holds only bytes of the file
      const auto split = Carrier::SplitCsvLine(line);
      if (split) (void)(split->IsRow() && split->NotNumber());
    }
  } catch (const Platform::RunError&) {
  }
  Files_::CloseFile(file);
}

}  // namespace FuzzChecks
