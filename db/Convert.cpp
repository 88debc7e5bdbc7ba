#include "Convert.h"

#include <string>

namespace Convert {

namespace {

enum class Group { Text, Date, Boolean, Other };

Group GroupOf(int type) {
  switch (type) {
    case ColumnTypes::kTypeEmpty:
    case ColumnTypes::kTypeBSTR:
    case ColumnTypes::kTypeVariant:
    case ColumnTypes::kTypeGUID:
    case ColumnTypes::kTypeChar:
    case ColumnTypes::kTypeWChar:
    case ColumnTypes::kTypeVarChar:
    case ColumnTypes::kTypeLongVarChar:
    case ColumnTypes::kTypeVarWChar:
    case ColumnTypes::kTypeLongVarWChar:
      return Group::Text;
    case ColumnTypes::kTypeDate:
    case ColumnTypes::kTypeDBDate:
    case ColumnTypes::kTypeDBTime:
    case ColumnTypes::kTypeDBTimeStamp:
      return Group::Date;
    case ColumnTypes::kTypeBoolean:
      return Group::Boolean;
    default:
      return Group::Other;
  }
}

// Only Empty and empty text count as "no default"; a Null default is a
// default the caller asked for.
bool IsEmptyDefault(const Db::Variant& value) {
  return value.IsEmpty() || (value.GetKind() == Db::Variant::Kind::Text && value.ToText().empty());
}

Db::Variant Fallback(Group group) {
  switch (group) {
    case Group::Text:
      return Db::Variant::Text("");
    case Group::Date:
      return Db::Variant::Now();
    case Group::Boolean:
      return Db::Variant::Bool(false);
    case Group::Other:
      break;
  }
  return Db::Variant::Int16(0);
}

}  // namespace

Db::Variant FieldValue(const Engine::Field& field, const Db::Variant& defaultValue, bool trimText) {
  Db::Variant result = defaultValue;
  try {
    const Db::Variant value = field.Value();
    const Group group = GroupOf(field.Type());
    if (value.IsNull()) {
      if (IsEmptyDefault(defaultValue)) {
        result = Fallback(group);
      }
    } else if (group == Group::Text && trimText) {
      result = Db::Variant::Text(Db::TrimSpaces(value.ToText()));
    } else {
      result = value;
    }
  } catch (...) {
    // A field that cannot be read gives the default, whatever the reason.
    result = defaultValue;
  }
  return result;
}

}  // namespace Convert
