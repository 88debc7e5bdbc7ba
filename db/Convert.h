// The null-safe way to read one field of a recordset's current row.
#pragma once

#include "Engine.h"
#include "Variant.h"

namespace Convert {

// The field's value; for a Null field the default, or, when the default is
// empty (Empty or empty text), a fallback by the field's type: empty text,
// the current date and time, False, or 0 (16-bit). Text values lose their
// surrounding spaces when `trimText`. Never throws: a field that cannot be
// read gives the default.
Db::Variant FieldValue(const Engine::Field& field, const Db::Variant& defaultValue, bool trimText);

}  // namespace Convert
