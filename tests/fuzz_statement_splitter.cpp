// libFuzzer target over the statement splitter, in every dialect. Input: a dialect byte, then the SQL text.
// Checks: the pieces and their delimiters join back into the input; a statement sent never ends inside a
// quote, comment or body, nor (PostgreSQL, Virtuoso) inside brackets; a statement and its delimiter split again
// alone come out the same; fed a line at a time, the splitter sends the same statements as fed the whole text.
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "input/statement_splitter.h"

namespace {

// The first byte picks one, modulo their count: '0' is Generic, '1' PostgreSQL and so on.
constexpr SqlDialect kDialects[] = {SqlDialect::Generic, SqlDialect::PostgreSql, SqlDialect::MySql,
                                    SqlDialect::Sqlite,  SqlDialect::SqlServer,  SqlDialect::Virtuoso};
constexpr size_t kDialectCount = sizeof kDialects / sizeof kDialects[0];

// What reaches the driver or the user: each statement's text, or the report of an unterminated one.
struct Outcome {
  std::vector<std::pair<bool, std::string>> sent;  // statements in order, each marked true when unterminated
  std::vector<std::string> delimiters;             // the delimiter that ended each of them
  std::string joined;                              // every piece's text and delimiter, in order
};

void Take(const SqlPiece& piece, Outcome& outcome) {
  outcome.joined.append(piece.text.data(), piece.text.size());
  outcome.joined.append(piece.delimiter.data(), piece.delimiter.size());
  if (piece.kind == PieceKind::Statement) outcome.sent.emplace_back(false, piece.text);
  if (piece.kind == PieceKind::Unterminated) outcome.sent.emplace_back(true, piece.szOpen);
  if (piece.kind == PieceKind::Statement || piece.kind == PieceKind::Unterminated) {
    outcome.delimiters.emplace_back(piece.delimiter);
  }
}

// The depth of open brackets at the end of a text that holds no quote, comment or body (a ')' too many is
// ignored), or -1 for a text that may hold one: a count of its own, apart from the splitter's.
int PlainDepthAtEnd(const std::string& text, char open, char close) {
  if (text.find_first_of("'\"$-/#`[") != std::string::npos) return -1;
  int depth = 0;
  for (char c : text) {
    if (c == open) ++depth;
    if (c == close && depth > 0) --depth;
  }
  return depth;
}

Outcome SplitWhole(SqlDialect dialect, const std::string& text) {
  StatementSplitter splitter;
  InitSplitter(splitter, dialect);
  FeedSplitter(splitter, text);
  Outcome outcome;
  SqlPiece piece;
  while (NextPiece(splitter, piece, true)) Take(piece, outcome);
  return outcome;
}

Outcome SplitByLines(SqlDialect dialect, const std::string& text) {
  StatementSplitter splitter;
  InitSplitter(splitter, dialect);
  Outcome outcome;
  SqlPiece piece;
  for (size_t from = 0; from < text.size();) {
    size_t newline = text.find('\n', from);
    size_t to = newline == std::string::npos ? text.size() : newline + 1;
    FeedSplitter(splitter, std::string_view(text).substr(from, to - from));
    while (NextPiece(splitter, piece, false)) Take(piece, outcome);
    from = to;
  }
  while (NextPiece(splitter, piece, true)) Take(piece, outcome);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  SqlDialect dialect = kDialects[data[0] % kDialectCount];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  Outcome whole = SplitWhole(dialect, text);
  if (whole.joined != text) abort();
  for (size_t i = 0; i < whole.sent.size(); ++i) {
    const auto& [fUnterminated, statement] = whole.sent[i];
    if (fUnterminated) continue;
    // A delimiter inside brackets ends nothing (PostgreSQL's parentheses, Virtuoso's braces).
    if (whole.delimiters[i] == ";") {
      if (dialect == SqlDialect::PostgreSql && PlainDepthAtEnd(statement, '(', ')') > 0) abort();
      if (dialect == SqlDialect::Virtuoso && PlainDepthAtEnd(statement, '{', '}') > 0) abort();
    }
    // A DELIMITER line inside it would change how the text reads alone.
    std::string lower = statement;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (dialect == SqlDialect::MySql && lower.find("delimiter") != std::string::npos) continue;
    // A statement whose text is split again at its end comes out whole: it closed every quote it opened.
    Outcome again = SplitWhole(dialect, statement + "\n");
    if (!again.sent.empty() && again.sent.back().first) abort();
    // Ended by ';', it ends there again when split alone: the end depends on nothing before it.
    if (whole.delimiters[i] == ";") {
      Outcome alone = SplitWhole(dialect, statement + ";\n");
      if (alone.sent.empty() || alone.sent[0].second != statement || alone.delimiters[0] != ";") abort();
    }
  }
  Outcome byLines = SplitByLines(dialect, text);
  if (byLines.joined != text || byLines.sent != whole.sent) abort();
  return 0;
}
