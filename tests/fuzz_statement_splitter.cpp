// libFuzzer target over the statement splitter, in every dialect. Input: a dialect byte, then the SQL text.
// Checks: the pieces and their delimiters join back into the input; a statement sent never ends inside a
// quote, comment or body; fed a line at a time, the splitter sends the same statements as fed the whole text.
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "session/statement_splitter.h"

namespace {

constexpr SqlDialect kDialects[] = {SqlDialect::Generic, SqlDialect::PostgreSql, SqlDialect::MySql, SqlDialect::Sqlite,
                                    SqlDialect::SqlServer};

// What reaches the driver or the user: each statement's text, or the report of an unterminated one.
struct Outcome {
  std::vector<std::pair<bool, std::string>> sent;  // statements in order, each marked true when unterminated
  std::string joined;             // every piece's text and delimiter, in order
};

void Take(const SqlPiece& piece, Outcome& outcome) {
  outcome.joined.append(piece.text.data(), piece.text.size());
  outcome.joined.append(piece.delimiter.data(), piece.delimiter.size());
  if (piece.kind == PieceKind::Statement) outcome.sent.emplace_back(false, piece.text);
  if (piece.kind == PieceKind::Unterminated) outcome.sent.emplace_back(true, piece.szOpen);
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
  SqlDialect dialect = kDialects[data[0] % 5];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  Outcome whole = SplitWhole(dialect, text);
  if (whole.joined != text) abort();
  for (const auto& [fUnterminated, statement] : whole.sent) {
    if (fUnterminated) continue;
    // A DELIMITER line inside it would change how the text reads alone.
    std::string lower = statement;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (dialect == SqlDialect::MySql && lower.find("delimiter") != std::string::npos) continue;
    // A statement whose text is split again at its end comes out whole: it closed every quote it opened.
    Outcome again = SplitWhole(dialect, statement + "\n");
    if (!again.sent.empty() && again.sent.back().first) abort();
  }
  Outcome byLines = SplitByLines(dialect, text);
  if (byLines.joined != text || byLines.sent != whole.sent) abort();
  return 0;
}
