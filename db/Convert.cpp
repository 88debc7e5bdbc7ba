#include "Convert.h"

#include <string>

namespace Convert {

Db::Variant FieldValue(const Engine::Field& field, const Db::Variant& defaultValue, bool trimText) {
  try {
    const Db::Variant value = field.Value();
    const int type = field.Type();
    const bool text = ColumnTypes::IsTextType(type);
    if (!value.IsNull()) return text && trimText ? Db::Variant::Text(Db::TrimSpaces(value.ToText())) : value;
    // A Null default is one the caller asked for.
    const bool noDefault =
        defaultValue.IsEmpty() || (defaultValue.GetKind() == Db::Variant::Kind::Text && defaultValue.ToText().empty());
    if (!noDefault) return defaultValue;
    if (text) return Db::Variant::Text("");
    if (type == ColumnTypes::kTypeDate) return Db::Variant::Now();
    if (type == ColumnTypes::kTypeBoolean) return Db::Variant::Bool(false);
    return Db::Variant::Int16(0);
  } catch (...) {
    return defaultValue;
  }
}

}  // namespace Convert
