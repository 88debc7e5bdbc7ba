#include "ColumnTypes.h"

#include <sqlite3.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <optional>
#include <vector>

#include "EngineErrors.h"

namespace ColumnTypes {
namespace {

using Db::Variant;
using Platform::RunError;

using Engine::Fail;
std::string DescribeValue(const Variant& value) {
  if (value.GetKind() == Variant::Kind::Binary) return "(binary data)";
  return Db::Quoted(value.ToText());
}

// Calls `sink` with the value as it is stored: nullptr, an int64, a double, text or bytes.
template <typename Sink>
int Emit(const Variant& value, Sink&& sink) {
  using Kind = Variant::Kind;
  switch (value.GetKind()) {
    case Kind::Empty: case Kind::Null: return sink(nullptr);
    case Kind::Int16: case Kind::Int32: case Kind::Byte: return sink(static_cast<sqlite3_int64>(value.ToInt32()));
    case Kind::Double: case Kind::Currency: return sink(value.ToDouble());
    case Kind::Bool: return sink(static_cast<sqlite3_int64>(value.ToBool() ? -1 : 0));
    case Kind::Binary: return sink(value.BinaryValue());
    case Kind::Text: case Kind::Date: return sink(value.ToText());
  }
  return SQLITE_MISUSE;
}

template <typename... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

void StoreAs(sqlite3_context* context, int, sqlite3_value** argv) {
  auto* failure = static_cast<std::optional<RunError>*>(sqlite3_user_data(context));
  try {
    const int type = sqlite3_value_int(argv[1]);
    const auto* column = reinterpret_cast<const char*>(sqlite3_value_text(argv[2]));
    // Read as no declared type but text would read it: an integer bound for
    // a text column keeps all its digits.
    const Variant stored =
        ConvertForColumn(ReadValue(argv[0], IsTextType(type) ? type : -1), type, column ? column : "");
    Emit(stored, Overloaded{
                     [&](std::nullptr_t) { return sqlite3_result_null(context), SQLITE_OK; },
                     [&](sqlite3_int64 number) { return sqlite3_result_int64(context, number), SQLITE_OK; },
                     [&](double number) { return sqlite3_result_double(context, number), SQLITE_OK; },
                     [&](const std::string& text) {
                       sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                       return SQLITE_OK;
                     },
                     [&](const std::vector<std::uint8_t>& bytes) {
                       if (bytes.empty()) return sqlite3_result_zeroblob(context, 0), SQLITE_OK;
                       sqlite3_result_blob64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
                       return SQLITE_OK;
                     },
                 });
  } catch (const RunError& error) {
    *failure = error;
    sqlite3_result_error(context, error.what(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

}  // namespace

int TypeFromDeclared(const char* declared) {
  const std::string word = Db::UpperAscii(std::string(declared, std::strcspn(declared, " \t\n\r(")));
  static constexpr std::pair<std::string_view, int> kTypes[] = {
      {"TEXT", kTypeVarWChar}, {"VARCHAR", kTypeVarWChar}, {"CHAR", kTypeVarWChar}, {"NVARCHAR", kTypeVarWChar},
      {"NCHAR", kTypeVarWChar}, {"STRING", kTypeVarWChar}, {"MEMO", kTypeLongVarWChar},
      {"LONGTEXT", kTypeLongVarWChar}, {"NTEXT", kTypeLongVarWChar}, {"CLOB", kTypeLongVarWChar},
      {"BYTE", kTypeUnsignedTinyInt}, {"TINYINT", kTypeUnsignedTinyInt}, {"SHORT", kTypeSmallInt},
      {"SMALLINT", kTypeSmallInt}, {"LONG", kTypeInteger}, {"INTEGER", kTypeInteger}, {"INT", kTypeInteger},
      {"COUNTER", kTypeInteger}, {"AUTOINCREMENT", kTypeInteger}, {"SINGLE", kTypeSingle}, {"REAL", kTypeSingle},
      {"DOUBLE", kTypeDouble}, {"FLOAT", kTypeDouble}, {"NUMERIC", kTypeDouble}, {"DECIMAL", kTypeDouble},
      {"CURRENCY", kTypeCurrency}, {"MONEY", kTypeCurrency}, {"DATETIME", kTypeDate}, {"DATE", kTypeDate},
      {"TIME", kTypeDate}, {"TIMESTAMP", kTypeDate}, {"BIT", kTypeBoolean}, {"YESNO", kTypeBoolean},
      {"LOGICAL", kTypeBoolean}, {"BOOLEAN", kTypeBoolean}, {"GUID", kTypeGUID}, {"UNIQUEIDENTIFIER", kTypeGUID},
      {"BLOB", kTypeLongVarBinary}, {"LONGBINARY", kTypeLongVarBinary}, {"BINARY", kTypeLongVarBinary},
      {"VARBINARY", kTypeLongVarBinary}, {"IMAGE", kTypeLongVarBinary}};
  const auto* found = std::ranges::find(kTypes, word, &std::pair<std::string_view, int>::first);
  return found == std::end(kTypes) ? kTypeVarWChar : found->second;
}

int TypeFromStorage(int storage) {
  switch (storage) {
    case SQLITE_INTEGER: return kTypeInteger;
    case SQLITE_FLOAT: return kTypeDouble;
    case SQLITE_BLOB: return kTypeLongVarBinary;
    default: return kTypeVarWChar;
  }
}

Variant ConvertForColumn(const Variant& value, int type, const std::string& column) {
  if (value.IsEmpty() || value.IsNull()) return Variant::Null();
  const auto overflow = [&]() {
    Fail(Platform::kErrOverflow, "Overflow: the value " + DescribeValue(value) + " does not fit the column " +
                                     Db::Quoted(column) + ".");
  };
  try {
    switch (type) {
      case kTypeSmallInt: return Variant::Int16(value.ToInt16());
      case kTypeInteger: return Variant::Int32(value.ToInt32());
      case kTypeUnsignedTinyInt: {
        const std::int32_t number = value.ToInt32();
        if (number < 0 || number > 255) overflow();
        return Variant::Byte(static_cast<std::uint8_t>(number));
      }
      case kTypeSingle: case kTypeDouble: case kTypeCurrency: {
        const double number = value.ToDouble();
        // Currency's range is that of a 64-bit count of ten-thousandths. No
        // column holds an infinity or NaN, which fail the test too.
        const double limit = type == kTypeSingle ? FLT_MAX : type == kTypeCurrency ? 922337203685477.5807 : DBL_MAX;
        if (!(number >= -limit && number <= limit)) overflow();
        return type == kTypeCurrency ? Variant::Currency(number) : Variant::Double(number);
      }
      case kTypeDate: return Variant::Date(value.ToDateText());
      case kTypeBoolean: return Variant::Bool(value.ToBool());
      case kTypeLongVarBinary:
        if (value.GetKind() == Variant::Kind::Binary) return value;
        if (value.GetKind() == Variant::Kind::Text) {
          const std::string text = value.ToText();
          return Variant::Binary(std::vector<std::uint8_t>(text.begin(), text.end()));
        }
        Fail(Platform::kErrTypeMismatch, "");
      default: return IsTextType(type) ? Variant::Text(value.ToText()) : value;
    }
  } catch (const RunError& error) {
    if (error.Number() == Platform::kErrOverflow) overflow();
    Fail(Platform::kErrTypeMismatch,
         "Type mismatch: the column " + Db::Quoted(column) + " cannot take the value " + DescribeValue(value) + ".");
  }
}

Variant ReadValue(sqlite3_value* stored, int type) {
  const auto real = [&](double value) {
    if (type == kTypeBoolean) return Variant::Bool(value != 0);
    if (type == kTypeCurrency) return Variant::Currency(value);
    if (IsTextType(type)) return Variant::Text(Variant::Double(value).ToText());
    return Variant::Double(value);
  };
  switch (sqlite3_value_type(stored)) {
    case SQLITE_NULL: return Variant::Null();
    case SQLITE_INTEGER: {
      const std::int64_t value = sqlite3_value_int64(stored);
      switch (type) {
        case kTypeBoolean: case kTypeCurrency: case kTypeDouble: case kTypeSingle:
          return real(static_cast<double>(value));
        case kTypeSmallInt:
          if (value >= INT16_MIN && value <= INT16_MAX) return Variant::Int16(static_cast<std::int16_t>(value));
          break;
        case kTypeUnsignedTinyInt:
          if (value >= 0 && value <= 255) return Variant::Byte(static_cast<std::uint8_t>(value));
          break;
        default:
          // Text columns of numeric affinity (MEMO, STRING) store number-like text as a number.
          if (IsTextType(type)) return Variant::Text(std::to_string(value));
      }
      if (value >= INT32_MIN && value <= INT32_MAX) return Variant::Int32(static_cast<std::int32_t>(value));
      return Variant::Double(static_cast<double>(value));
    }
    case SQLITE_FLOAT: return real(sqlite3_value_double(stored));
    case SQLITE_BLOB: {
      // A zero-length blob has no bytes; it reads as an empty binary value, not Null.
      const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(stored));
      const int size = sqlite3_value_bytes(stored);
      return Variant::Binary(bytes ? std::vector<std::uint8_t>(bytes, bytes + size) : std::vector<std::uint8_t>{});
    }
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(stored));
      std::string value(text ? text : "", text ? static_cast<std::size_t>(sqlite3_value_bytes(stored)) : 0);
      if (type == kTypeDate) {
        try {
          return Variant::Date(value);
        } catch (const RunError&) {
          // read as the text it is
        }
      }
      return Variant::Text(std::move(value));
    }
  }
}

void Bind(const Sqlite::Statement& statement, int position, const Variant& value) {
  sqlite3_stmt* stmt = statement.Get();
  statement.Check(Emit(value, Overloaded{
                         [&](std::nullptr_t) { return sqlite3_bind_null(stmt, position); },
                         [&](sqlite3_int64 number) { return sqlite3_bind_int64(stmt, position, number); },
                         [&](double number) { return sqlite3_bind_double(stmt, position, number); },
                         [&](const std::string& text) {
                           return sqlite3_bind_text64(stmt, position, text.data(), text.size(), SQLITE_TRANSIENT,
                                                      SQLITE_UTF8);
                         },
                         [&](const std::vector<std::uint8_t>& bytes) {
                           // An empty vector's data() may be null, which SQLite binds as Null.
                           if (bytes.empty()) return sqlite3_bind_zeroblob(stmt, position, 0);
                           return sqlite3_bind_blob64(stmt, position, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
                         },
                     }));
}

void RegisterStoreFunction(const Sqlite::Database& db) {
  db.Check(sqlite3_create_function_v2(db.Get(), kStoreFunction, 3, SQLITE_UTF8, &db.refused, StoreAs, nullptr, nullptr,
                                      nullptr));
}

}  // namespace ColumnTypes
