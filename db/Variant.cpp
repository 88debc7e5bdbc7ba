#include "Variant.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <iterator>
#include <ctime>
#include <limits>
#include <regex>

#include "RunError.h"

namespace Db {
namespace {

using Platform::RunError;
namespace chrono = std::chrono;

// Date serial numbers count days from 1899-12-30, the host's day 0; the
// valid dates run from 100-01-01 to 9999-12-31.
constexpr std::int64_t kSerialEpochDays = -25569;  // 1899-12-30 relative to 1970-01-01
constexpr double kMinSerial = -657434.0;
constexpr double kMaxSerial = 2958465.99999;

[[noreturn]] void ThrowMismatch(const std::string& what) {
  throw RunError(Platform::kErrTypeMismatch, "Type mismatch: " + what + ".");
}

[[noreturn]] void ThrowOverflow(const std::string& what) {
  throw RunError(Platform::kErrOverflow, "Overflow: " + what + ".");
}

[[noreturn]] void ThrowNull() {
  throw RunError(Platform::kErrInvalidUseOfNull, "Invalid use of Null.");
}

std::string Enclosed(const std::string& text, char quote) {
  std::string enclosed(1, quote);
  for (const char c : text) {
    enclosed += c;
    if (c == quote) enclosed += c;
  }
  return enclosed + quote;
}

// Spaces and tabs: numeric and boolean text may carry either around it.
constexpr std::string_view kBlanks = " \t";

// Shortest round-trip digits, written out in full between 1e-5 and 1e15 as
// the host writes numbers, in exponent form outside.
std::string FormatDouble(double value) {
  char buffer[400];
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e15);
  const auto format = plain ? std::chars_format::fixed : std::chars_format::scientific;
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  std::string text(buffer, result.ptr);
  if (text == "-0") text = "0";
  return text;
}

// The text less blanks and sign, the value, and whether it is past a double's range.
struct Number {
  std::string_view digits;
  double value = 0;
  bool tooLarge = false;
};

// Not strtod: it follows the process locale, which the window system sets.
std::optional<Number> ReadNumber(std::string_view text) {
  text = Trim(text, kBlanks);
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  // from_chars would also take a second sign, "inf" and "nan".
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
    return std::nullopt;
  }
  Number number{text};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number.value);
  if (end != text.data() + text.size() || error == std::errc::invalid_argument) return std::nullopt;
  number.tooLarge = error == std::errc::result_out_of_range;
  if (negative) number.value = -number.value;
  return number;
}

std::optional<double> ParseNumber(std::string_view text) {
  const std::optional<Number> number = ReadNumber(text);
  if (number && number->tooLarge) ThrowOverflow("the number " + Quoted(std::string(number->digits)) + " is too large");
  return number ? std::optional(number->value) : std::nullopt;
}

std::string FormatDateTime(chrono::year_month_day date, unsigned h, unsigned mi, unsigned s) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), h, mi, s);
  return buffer;
}

std::string DateTextFromSerial(double serial) {
  if (!(serial >= kMinSerial && serial <= kMaxSerial)) ThrowOverflow("the number is out of the range of dates");
  // The host keeps the time of a negative serial as a positive fraction.
  const double whole = std::trunc(serial);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(serial - whole) * 86400.0));
  auto days = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) seconds -= 86400, days += 1;
  const chrono::year_month_day date{chrono::sys_days{chrono::days{days + kSerialEpochDays}}};
  const auto s = static_cast<unsigned>(seconds);
  return FormatDateTime(date, s / 3600, s / 60 % 60, s % 60);
}

double SerialFromDateText(const std::string& stored) {
  const auto field = [&](std::size_t at, std::size_t length) { return std::stoi(stored.substr(at, length)); };
  const chrono::year_month_day date = chrono::year{field(0, 4)} / field(5, 2) / field(8, 2);
  const std::int64_t days = chrono::sys_days{date}.time_since_epoch().count() - kSerialEpochDays;
  const double fraction = (field(11, 2) * 3600 + field(14, 2) * 60 + field(17, 2)) / 86400.0;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

}  // namespace

std::optional<std::string> StoredDateText(std::string_view text) {
  // A date yyyy-mm-dd (groups 1-3) or m/d/yyyy (4-6), then a time (7-10); or a
  // time alone (11-14). Runs of spaces are matched as one: a pattern's repeat
  // goes one level deeper into the stack for each character it takes.
  static const std::string time = R"((\d{1,2}):(\d{2})(?::(\d{2}))?(?: ?([AaPp])[Mm])?)";
  static const std::regex pattern(R"((?:(\d{4})-(\d{1,2})-(\d{1,2})|(\d{1,2})/(\d{1,2})/(\d{4}))(?: )" + time +
                                  ")?|" + time);
  text = Trim(text, kBlanks);
  std::string squeezed;
  std::unique_copy(text.begin(), text.end(), std::back_inserter(squeezed),
                   [](char a, char b) { return a == ' ' && b == ' '; });
  std::smatch match;
  if (!std::regex_match(squeezed, match, pattern)) return std::nullopt;
  const auto number = [&](int group) { return match[group].matched ? std::stoi(match[group].str()) : 0; };
  chrono::year_month_day date = chrono::year{1899} / 12 / 30;
  if (match[1].matched) date = chrono::year{number(1)} / number(2) / number(3);
  if (match[4].matched) date = chrono::year{number(6)} / number(4) / number(5);
  const int at = match[11].matched ? 11 : 7;
  int hour = number(at);
  if (match[at + 3].matched) {
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (match[at + 3].str() == "P" || match[at + 3].str() == "p" ? 12 : 0);
  }
  if (date.year() < chrono::year{100} || !date.ok() || hour > 23 || number(at + 1) > 59 || number(at + 2) > 59) {
    return std::nullopt;
  }
  return FormatDateTime(date, static_cast<unsigned>(hour), static_cast<unsigned>(number(at + 1)),
                        static_cast<unsigned>(number(at + 2)));
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string QuotedName(const std::string& name) { return Enclosed(name, '"'); }

std::string TextLiteral(const std::string& text) { return Enclosed(text, '\''); }

std::string HexLiteral(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "X'";
  for (std::size_t i = 0; i < size; ++i) text += {kHex[bytes[i] >> 4], kHex[bytes[i] & 15]};
  return text + "'";
}

bool IsNumericText(const std::string& text) { return ReadNumber(text).has_value(); }

Variant Variant::Null() { return Variant(Kind::Null, std::monostate{}); }

Variant Variant::Text(std::string value) { return Variant(Kind::Text, std::move(value)); }

Variant Variant::Int16(std::int16_t value) { return Variant(Kind::Int16, static_cast<std::int64_t>(value)); }

Variant Variant::Int32(std::int32_t value) { return Variant(Kind::Int32, static_cast<std::int64_t>(value)); }

Variant Variant::Double(double value) { return Variant(Kind::Double, value); }

Variant Variant::Currency(double value) {
  const double rounded = std::nearbyint(value * 10000.0) / 10000.0;
  return Variant(Kind::Currency, rounded == 0 ? 0.0 : rounded);
}

Variant Variant::Date(const std::string& value) {
  // Only the stored form itself (or its date alone): text that reads as itself.
  const auto stored = StoredDateText(value);
  if (!stored || (*stored != value && *stored != value + " 00:00:00")) ThrowMismatch(Quoted(value) + " is not a date");
  return Variant(Kind::Date, *stored);
}

Variant Variant::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return Variant(Kind::Date, buffer);
}

Variant Variant::Bool(bool value) { return Variant(Kind::Bool, value); }

Variant Variant::Byte(std::uint8_t value) { return Variant(Kind::Byte, static_cast<std::int64_t>(value)); }

Variant Variant::Binary(std::vector<std::uint8_t> value) { return Variant(Kind::Binary, std::move(value)); }

std::string Variant::ToText() const {
  switch (kind_) {
    case Kind::Empty: return "";
    case Kind::Null: ThrowNull();
    case Kind::Text: case Kind::Date: return std::get<std::string>(value_);
    case Kind::Int16: case Kind::Int32: case Kind::Byte: return std::to_string(std::get<std::int64_t>(value_));
    case Kind::Double: case Kind::Currency: return FormatDouble(std::get<double>(value_));
    case Kind::Bool: return std::get<bool>(value_) ? "True" : "False";
    case Kind::Binary: return std::string(BinaryValue().begin(), BinaryValue().end());
  }
  return "";
}

double Variant::ToDouble() const {
  switch (kind_) {
    case Kind::Empty: return 0;
    case Kind::Null: ThrowNull();
    case Kind::Int16: case Kind::Int32: case Kind::Byte: return static_cast<double>(std::get<std::int64_t>(value_));
    case Kind::Double: case Kind::Currency: return std::get<double>(value_);
    case Kind::Bool: return std::get<bool>(value_) ? -1.0 : 0.0;
    case Kind::Date: return SerialFromDateText(std::get<std::string>(value_));
    case Kind::Text: {
      const auto& text = std::get<std::string>(value_);
      if (const auto number = ParseNumber(text)) return *number;
      ThrowMismatch(Quoted(text) + " is not a number");
    }
    case Kind::Binary: ThrowMismatch("binary data is not a number");
  }
  return 0;
}

std::int16_t Variant::ToInt16() const {
  const std::int32_t value = ToInt32();
  if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max()) {
    ThrowOverflow(std::to_string(value) + " does not fit a 16-bit integer");
  }
  return static_cast<std::int16_t>(value);
}

std::int32_t Variant::ToInt32() const {
  if (kind_ == Kind::Int16 || kind_ == Kind::Int32 || kind_ == Kind::Byte) {
    return static_cast<std::int32_t>(std::get<std::int64_t>(value_));
  }
  // Halves round to even, as the host's integer conversions do.
  const double rounded = std::nearbyint(ToDouble());
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max())) {
    ThrowOverflow(FormatDouble(rounded) + " does not fit a 32-bit integer");
  }
  return static_cast<std::int32_t>(rounded);
}

bool Variant::ToBool() const {
  switch (kind_) {
    case Kind::Empty: return false;
    case Kind::Null: ThrowNull();
    case Kind::Bool: return std::get<bool>(value_);
    case Kind::Text: {
      const auto& text = std::get<std::string>(value_);
      const std::string_view trimmed = Trim(text, kBlanks);
      if (EqualsNoCase(trimmed, "True")) return true;
      if (EqualsNoCase(trimmed, "False")) return false;
      if (const auto number = ParseNumber(text)) return *number != 0;
      ThrowMismatch(Quoted(text) + " is not True or False");
    }
    case Kind::Date: case Kind::Binary: ThrowMismatch("the value is not True or False");
    default: return ToDouble() != 0;
  }
}

std::string Variant::ToDateText() const {
  switch (kind_) {
    case Kind::Null: ThrowNull();
    case Kind::Date: return std::get<std::string>(value_);
    case Kind::Text: {
      const auto& text = std::get<std::string>(value_);
      if (auto stored = StoredDateText(text)) return *stored;
      ThrowMismatch(Quoted(text) + " is not a date");
    }
    case Kind::Empty: case Kind::Binary: ThrowMismatch("the value is not a date");
    default: return DateTextFromSerial(ToDouble());
  }
}

const std::vector<std::uint8_t>& Variant::BinaryValue() const {
  if (kind_ != Kind::Binary) ThrowMismatch("the value is not binary data");
  return std::get<std::vector<std::uint8_t>>(value_);
}

bool operator==(const Variant& a, const Variant& b) { return a.kind_ == b.kind_ && a.value_ == b.value_; }

std::string_view Trim(std::string_view text, std::string_view chars) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace Db
