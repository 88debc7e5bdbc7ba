// The value of a field or an argument. Every conversion between its kinds
// lives here and is explicit; one that cannot be made throws
// Platform::RunError 13 (type mismatch), one that does not fit 6 (overflow).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace Db {

class Variant {
 public:
  enum class Kind { Empty, Null, Text, Int16, Int32, Double, Currency, Date, Bool, Byte, Binary };

  Variant() = default;  // Empty
  static Variant Null();
  static Variant Text(std::string value);
  static Variant Int16(std::int16_t value);
  static Variant Int32(std::int32_t value);
  static Variant Double(double value);
  static Variant Currency(double value);  // rounded to 4 decimals
  // "YYYY-MM-DD HH:MM:SS" or a date alone (midnight); throws 13 for other text.
  static Variant Date(const std::string& value);
  static Variant Now();  // the current local date and time
  static Variant Bool(bool value);
  static Variant Byte(std::uint8_t value);
  static Variant Binary(std::vector<std::uint8_t> value);

  Kind GetKind() const { return kind_; }
  bool IsEmpty() const { return kind_ == Kind::Empty; }
  bool IsNull() const { return kind_ == Kind::Null; }

  // Text form: numbers in their shortest exact decimal form, booleans "True"/"False",
  // dates "YYYY-MM-DD HH:MM:SS", Empty as "". Null throws 94 (invalid use of Null).
  std::string ToText() const;
  // Numeric conversions: numbers as they are, booleans as -1 and 0, text
  // that holds a number (surrounding spaces allowed) as that number; Empty
  // is 0. Null and other text throw 13 (94 for Null); out of range throws 6.
  std::int16_t ToInt16() const;
  std::int32_t ToInt32() const;
  double ToDouble() const;
  // Booleans as they are, numbers non-zero as true, text "True"/"False" (any
  // case) or numeric text; other text throws 13.
  bool ToBool() const;
  // The stored date-time form; text in that form or m/d/yyyy; throws 13.
  std::string ToDateText() const;

  const std::vector<std::uint8_t>& BinaryValue() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Storage = std::variant<std::monostate, std::string, std::int64_t, double, bool, std::vector<std::uint8_t>>;
  Variant(Kind kind, Storage value) : kind_(kind), value_(std::move(value)) {}

  Kind kind_ = Kind::Empty;
  Storage value_;
};

// True when `text`, less surrounding spaces, is an optional sign, digits with
// at most one decimal point (at least one digit), and an optional exponent.
bool IsNumericText(const std::string& text);

// `name` as an SQL identifier in double quotes, any quote in it doubled,
// so that a name read from a file is never taken for SQL of its own.
std::string QuotedName(const std::string& name);
// `text` as an SQL text literal in apostrophes, any apostrophe in it doubled.
std::string TextLiteral(const std::string& text);
// `text` between apostrophes as it stands, as messages name things: 'TARNVEL-GND'.
inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Binary data as an SQL literal in upper-case hex: X'00FF' (X'' when empty).
std::string HexLiteral(const std::uint8_t* bytes, std::size_t size);

std::string_view Trim(std::string_view text, std::string_view chars);
// `text` less its leading and trailing spaces (U+0020 only: a tab or line
// break at either end is part of the value).
inline std::string TrimSpaces(const std::string& text) { return std::string(Trim(text, " ")); }

std::string UpperAscii(std::string text);

// Whether two texts are equal but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether `text` begins with `prefix` but for the case of ASCII letters.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// SQL's white space: space, tab, line feed, carriage return, form feed, vertical tab.
inline constexpr std::string_view kSpaces = " \t\n\r\f\v";
inline bool IsSpace(char c) { return kSpaces.find(c) != std::string_view::npos; }

// The stored form "YYYY-MM-DD HH:MM:SS" of m/d/yyyy or yyyy-mm-dd, each with
// an optional time h:mm[:ss] [AM/PM], or of such a time alone (on 1899-12-30),
// spaces around allowed; empty when the text is no valid date.
std::optional<std::string> StoredDateText(std::string_view text);

}  // namespace Db
