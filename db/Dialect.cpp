#include "Dialect.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "ColumnTypes.h"
#include "EngineErrors.h"
#include "RunError.h"
#include "Variant.h"

namespace Dialect {
namespace {

using Db::EqualsNoCase;
using Db::IsSpace;
using Db::StartsWithNoCase;

using Engine::Fail;
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || u >= 0x80;
}

void AppendLimit(std::string& out, std::string_view limit, const char* separator) {
  if (!limit.empty()) out.append(separator).append("LIMIT ").append(limit);
}

// ATTACH, PRAGMA, transaction control and the rest reach beyond one
// statement on one file and are refused.
bool IsAllowedStatement(const std::string& keyword) {
  static constexpr std::string_view kAllowed[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER"};
  return std::ranges::find(kAllowed, keyword) != std::end(kAllowed);
}

// Unclosed: a text, a name or a comment that runs to the end without its closing mark.
struct Token {
  enum class Kind { Word, Name, Text, Punct, Unclosed } kind;
  std::size_t begin, end;
};

// The token at `i` or after it, past white space and comments.
std::optional<Token> NextToken(std::string_view sql, std::size_t i) {
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    const char next = i + 1 < n ? sql[i + 1] : '\0';
    if (IsSpace(c)) {
      ++i;
    } else if (c == '-' && next == '-') {
      i = std::min(sql.find('\n', i), n);
    } else if (c == '/' && next == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) return Token{Token::Kind::Unclosed, i, n};
      i = end + 2;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      while ((j = std::min(sql.find(close, j), n)) < n && close != ']' && j + 1 < n && sql[j + 1] == close) j += 2;
      if (j == n) return Token{Token::Kind::Unclosed, i, n};
      return Token{c == '\'' ? Token::Kind::Text : Token::Kind::Name, i, j + 1};
    } else if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < n && IsWordChar(sql[j])) ++j;
      return Token{Token::Kind::Word, i, j};
    } else {
      return Token{Token::Kind::Punct, i, i + 1};
    }
  }
  return std::nullopt;
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  for (auto token = NextToken(sql, 0); token; token = NextToken(sql, token->end)) tokens.push_back(*token);
  return tokens;
}

// Wraps each value an INSERT or UPDATE writes in the store function of its column's type.
class Writes {
 public:
  Writes(const std::string& sql, const std::string& original, const Schema& schema)
      : sql_(sql), original_(original), tokens_(Tokenize(sql)), schema_(schema) {
    // Its own parameters would be numbered among those taken out: it keeps its literals.
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      hasParameters_ = hasParameters_ || Punct(i, '?') || Punct(i, ':') || Punct(i, '@') || Text(i).front() == '$';
    }
  }

  Statement Insert();
  Statement Update();

 private:
  bool Word(std::size_t i, std::string_view word) const {
    return i < tokens_.size() && tokens_[i].kind == Token::Kind::Word && EqualsNoCase(Text(i), word);
  }
  bool Punct(std::size_t i, char c) const {
    return i < tokens_.size() && tokens_[i].kind == Token::Kind::Punct && sql_[tokens_[i].begin] == c;
  }
  std::string_view Text(std::size_t i) const {
    return std::string_view(sql_).substr(tokens_[i].begin, tokens_[i].end - tokens_[i].begin);
  }
  std::string Name(std::size_t i) const;
  // Reads [schema.]table from token `i` on; answers the token after it.
  std::size_t Table(std::size_t i);
  // The token that ends the expression starting at `i`: a comma or a
  // closing parenthesis at its own depth, or one of `stops` there.
  std::size_t ExpressionEnd(std::size_t i, std::initializer_list<std::string_view> stops) const;
  void Wrap(std::size_t first, std::size_t last, const std::string& column);
  // The value of tokens [first, last) when they are one integer or text literal.
  std::optional<Parameter> Literal(std::size_t first, std::size_t last) const;
  static std::string StoreTail(int type, const std::string& column);
  Statement InsertQuery(std::size_t source, bool listed, const std::vector<std::string>& columns);
  Statement Result(std::size_t rows = 0) const;

  const std::string& sql_;
  const std::string& original_;  // as the caller wrote it, for messages
  std::vector<Token> tokens_;
  const Schema& schema_;
  std::string schemaName_, table_;
  struct Edit {
    std::size_t begin, end;  // the text replaced
    std::string text;
  };
  std::vector<Edit> edits_;  // in the order of the text
  std::vector<Parameter> parameters_;
  bool hasParameters_ = false;
};

std::string Writes::Name(std::size_t i) const {
  const std::string_view text = Text(i);
  if (tokens_[i].kind == Token::Kind::Word || text.size() < 2) return std::string(text);
  const char close = text.front() == '[' ? ']' : text.front();
  std::string name;
  for (std::size_t k = 1; k + 1 < text.size(); ++k) {
    name += text[k];
    if (close != ']' && text[k] == close) ++k;
  }
  return name;
}

std::size_t Writes::Table(std::size_t i) {
  if (i >= tokens_.size() || tokens_[i].kind == Token::Kind::Punct) return tokens_.size();
  table_ = Name(i);
  if (Punct(i + 1, '.') && i + 2 < tokens_.size()) {
    schemaName_ = table_;
    table_ = Name(i + 2);
    i += 2;
  }
  ++i;
  return Word(i, "AS") ? i + 2 : i;
}

std::size_t Writes::ExpressionEnd(std::size_t i, std::initializer_list<std::string_view> stops) const {
  int depth = 0;
  for (; i < tokens_.size(); ++i) {
    if (Punct(i, '(')) {
      ++depth;
    } else if (Punct(i, ')')) {
      if (depth-- == 0) break;
    } else if (depth == 0 && Punct(i, ',')) {
      break;
    } else if (depth == 0 && tokens_[i].kind == Token::Kind::Word) {
      for (std::string_view stop : stops) {
        // "IS DISTINCT FROM" compares; it does not start a FROM clause.
        if (Word(i, stop) && !(stop == "FROM" && i > 0 && Word(i - 1, "DISTINCT"))) return i;
      }
    }
  }
  return i;
}

std::string Writes::StoreTail(int type, const std::string& column) {
  return ", " + std::to_string(type) + ", " + Db::TextLiteral(column) + ")";
}

void Writes::Wrap(std::size_t first, std::size_t last, const std::string& column) {
  if (first >= last) return;
  const std::optional<int> type = schema_.ColumnType(schemaName_, table_, column);
  if (!type) return;
  const std::string head = std::string(ColumnTypes::kStoreFunction) + "(";
  if (auto literal = Literal(first, last)) {
    parameters_.push_back(std::move(*literal));
    edits_.push_back({tokens_[first].begin, tokens_[last - 1].end, head + "?" + StoreTail(*type, column)});
  } else {
    edits_.push_back({tokens_[first].begin, tokens_[first].begin, head});
    edits_.push_back({tokens_[last - 1].end, tokens_[last - 1].end, StoreTail(*type, column)});
  }
}

std::optional<Parameter> Writes::Literal(std::size_t first, std::size_t last) const {
  const bool withSign = last - first == 2 && (Punct(first, '-') || Punct(first, '+'));
  if (hasParameters_ || (last - first != 1 && !withSign)) return std::nullopt;
  const std::size_t at = last - 1;
  const std::string_view text = Text(at);
  if (tokens_[at].kind == Token::Kind::Text && !withSign) return Name(at);
  if (tokens_[at].kind != Token::Kind::Word || !std::all_of(text.begin(), text.end(), IsDigit)) return std::nullopt;
  // Digits past the range of a 64-bit integer make SQLite read a real.
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return Punct(first, '-') && withSign ? -number : number;
}

Statement Writes::Result(std::size_t rows) const {
  Statement statement{"", parameters_, table_, rows};
  std::size_t from = 0;
  for (const Edit& edit : edits_) {
    statement.sql.append(sql_, from, edit.begin - from).append(edit.text);
    from = edit.end;
  }
  statement.sql.append(sql_, from);
  return statement;
}

Statement Writes::Insert() {
  std::size_t i = Word(1, "OR") ? 3 : 1;
  if (!Word(i, "INTO")) return Result();
  i = Table(i + 1);
  std::vector<std::string> columns;
  const bool listed = Punct(i, '(');
  if (listed) {
    for (++i; i < tokens_.size() && !Punct(i, ')'); ++i) {
      if (!Punct(i, ',')) columns.push_back(Name(i));
    }
    ++i;
  }
  if (Word(i, "DEFAULT") || i >= tokens_.size()) return Result();
  if (!listed) columns = schema_.InsertColumns(schemaName_, table_);
  if (!Word(i, "VALUES")) return InsertQuery(i, listed, columns);
  std::size_t rows = 0;
  for (++i; Punct(i, '('); ++i) {
    std::size_t value = 0;
    for (++i;; ++i) {
      const std::size_t end = ExpressionEnd(i, {});
      if (value < columns.size()) Wrap(i, end, columns[value]);
      ++value;
      i = end;
      if (!Punct(i, ',')) break;
    }
    ++rows;
    if (!Punct(i + 1, ',')) break;
    ++i;
  }
  return Result(rows);
}

// INSERT ... SELECT: the query's rows become a common table whose columns
// are wrapped one by one in the INSERT's own SELECT.
Statement Writes::InsertQuery(std::size_t source, bool listed, const std::vector<std::string>& columns) {
  if (columns.empty()) return Result();
  int depth = 0;
  for (std::size_t i = source; i < tokens_.size(); ++i) {
    depth += Punct(i, '(') ? 1 : Punct(i, ')') ? -1 : 0;
    if (depth == 0 && (Word(i, "RETURNING") || (Word(i, "ON") && Word(i + 1, "CONFLICT")))) {
      Fail(Engine::kErrSyntax, "The statement " + Db::Quoted(original_) +
                                   " inserts the rows of a query with RETURNING or ON CONFLICT, which is not "
                                   "supported; insert them without it.");
    }
  }
  std::string fields, names, values;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    // Appended to, not "c" + a temporary: GCC 12 at -O3 takes the latter for an overlapping copy (-Wrestrict).
    const std::string field = std::string("c").append(std::to_string(k + 1)), separator = k ? ", " : "";
    const std::optional<int> type = schema_.ColumnType(schemaName_, table_, columns[k]);
    fields += separator + field;
    names += separator + Db::QuotedName(columns[k]);
    values += separator + (type ? ColumnTypes::kStoreFunction + ("(" + field + StoreTail(*type, columns[k])) : field);
  }
  Statement statement{"WITH store_rows(" + fields + ") AS (" + sql_.substr(tokens_[source].begin) + "\n) ", {},
                      table_, 0};
  statement.sql.append(sql_, 0, tokens_[source].begin);
  if (!listed) statement.sql.append("(" + names + ") ");
  statement.sql.append("SELECT " + values + " FROM store_rows");
  return statement;
}

Statement Writes::Update() {
  std::size_t i = Table(Word(1, "OR") ? 3 : 1);
  if (Word(i, "INDEXED")) i += 3;
  if (Word(i, "NOT") && Word(i + 1, "INDEXED")) i += 2;
  if (!Word(i, "SET")) return Result();
  for (++i; i < tokens_.size(); ++i) {
    if (Punct(i, '(')) {
      Fail(Engine::kErrSyntax, "The statement " + Db::Quoted(original_) +
                                   " sets a list of columns at once, which is not supported; set each column on "
                                   "its own.");
    }
    const std::string column = Name(i);
    if (!Punct(i + 1, '=')) break;
    const std::size_t end = ExpressionEnd(i + 2, {"FROM", "WHERE", "RETURNING", "ORDER", "LIMIT"});
    Wrap(i + 2, end, column);
    i = end;
    if (!Punct(i, ',')) break;
  }
  return Result();
}

}  // namespace

std::string FirstKeyword(std::string_view sql) {
  auto token = NextToken(sql, 0);
  while (token && token->kind == Token::Kind::Punct && sql[token->begin] == '(') token = NextToken(sql, token->end);
  if (!token || token->kind != Token::Kind::Word) return "";
  return Db::UpperAscii(std::string(sql.substr(token->begin, token->end - token->begin)));
}

std::string TranslateSql(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  // One pending LIMIT per open parenthesis; [0] is the statement's own.
  std::vector<std::string_view> limits(1);
  bool expectTop = false;  // just after SELECT, SELECT DISTINCT or SELECT ALL
  const std::string_view text = sql;
  const auto skip = [&](std::size_t at, std::string_view chars) {
    return std::min(text.find_first_not_of(chars, at), text.size());
  };
  std::size_t copied = 0;  // the text before it is in `out`
  for (auto token = NextToken(text, 0); token; token = NextToken(text, copied)) {
    out.append(text.substr(copied, token->begin - copied));
    copied = token->end;
    const std::string_view word = text.substr(token->begin, token->end - token->begin);
    const bool afterSelect = expectTop;
    expectTop = false;
    if (token->kind == Token::Kind::Unclosed) {
      Fail(Engine::kErrSyntax, std::string(word[0] == '\'' ? "A text" : word[0] == '/' ? "A comment" : "A name") +
                                   " in the statement " + Db::Quoted(sql) + " is not closed.");
    } else if (word == "#" && !(token->begin > 0 && IsWordChar(text[token->begin - 1]))) {
      const std::size_t close = text.find('#', copied);
      const auto stored =
          close == std::string::npos ? std::nullopt : Db::StoredDateText(text.substr(copied, close - copied));
      if (!stored) Fail(Engine::kErrSyntax, "Syntax error in a date in the statement " + Db::Quoted(sql) + ".");
      out.append(Db::Quoted(*stored));
      copied = close + 1;
      continue;
    } else if (word == ";") {
      if (skip(copied, Db::kSpaces) < text.size()) {
        Fail(Engine::kErrMultipleStatements,
             "Only one statement can be run at a time: " + Db::Quoted(sql) + " holds more; nothing was run.");
      }
      copied = text.size();
      break;
    } else if (afterSelect && EqualsNoCase(word, "TOP")) {
      const std::size_t from = skip(copied, Db::kSpaces), to = skip(from, "0123456789"), after = skip(to, Db::kSpaces);
      if (to == from || (to < text.size() && IsWordChar(text[to])) || StartsWithNoCase(text.substr(after), "PERCENT")) {
        Fail(Engine::kErrSyntax,
             "Syntax error in the statement " + Db::Quoted(sql) + ": Top must be followed by a number of rows.");
      }
      limits.back() = text.substr(from, to - from);
      copied = after;
      continue;
    } else if (word == "(") {
      limits.emplace_back();
    } else if (word == ")" && limits.size() > 1) {
      AppendLimit(out, limits.back(), " ");
      limits.pop_back();
    } else if (token->kind == Token::Kind::Word) {
      expectTop = EqualsNoCase(word, "SELECT") ||
                  (afterSelect && (EqualsNoCase(word, "DISTINCT") || EqualsNoCase(word, "ALL")));
    }
    out.append(word);
  }
  out.append(text.substr(copied));
  // A new line ends a trailing "--" comment, which would otherwise swallow the LIMIT.
  AppendLimit(out, limits.front(), "\n");
  return out;
}

Statement Translate(const std::string& sql, const Schema& schema, bool query) {
  std::string translated = TranslateSql(sql);
  const std::string keyword = FirstKeyword(translated);
  if (query ? keyword != "SELECT" : !IsAllowedStatement(keyword)) {
    Fail(Engine::kErrSyntax, query ? "Only a SELECT statement can open a recordset, not " + Db::Quoted(sql) + "."
                                   : "The statement " + Db::Quoted(sql) +
                                         " is not allowed; only SELECT, INSERT, UPDATE, DELETE, CREATE, DROP and "
                                         "ALTER statements can be run.");
  }
  if (keyword == "INSERT") return Writes(translated, sql, schema).Insert();
  if (keyword == "UPDATE") return Writes(translated, sql, schema).Update();
  return {std::move(translated), {}, "", 0};
}

}  // namespace Dialect
