// Tests of the statement splitter alone: its completeness against SQLite's own test over the fuzz corpus, and
// the MySQL family's NO_BACKSLASH_ESCAPES flag.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

#include "input/statement_splitter.h"

namespace {

// The statements (kind Statement or Unterminated) of a text split whole.
std::vector<std::string> Statements(SqlDialect dialect, const std::string& text, bool fNoBackslashEscapes) {
  StatementSplitter splitter;
  InitSplitter(splitter, dialect, fNoBackslashEscapes);
  FeedSplitter(splitter, text);
  std::vector<std::string> statements;
  SqlPiece piece;
  while (NextPiece(splitter, piece, true)) {
    if (piece.kind == PieceKind::Statement) statements.emplace_back(StatementText(piece));
    if (piece.kind == PieceKind::Unterminated) statements.push_back(std::string("unterminated ") + piece.szOpen);
  }
  return statements;
}

TEST(SplitterTest, NoBackslashEscapesMakesABackslashPlainInTheMySqlFamilyOnly) {
  const std::string text = "select 'C:\\' as d;\nselect \"x\\\" as e;\nselect 3;\n";
  EXPECT_EQ(Statements(SqlDialect::MySql, text, true),
            (std::vector<std::string>{"select 'C:\\' as d", "select \"x\\\" as e", "select 3"}));
  EXPECT_EQ(Statements(SqlDialect::MySql, text, false), (std::vector<std::string>{"unterminated quoted string"}));
  // Escapes stay on where the dialect has them for its own reasons: PostgreSQL's E'...', Virtuoso's strings.
  EXPECT_EQ(Statements(SqlDialect::PostgreSql, "select E'\\';1';\nselect 'C:\\';\n", true),
            (std::vector<std::string>{"select E'\\';1'", "select 'C:\\'"}));
  EXPECT_EQ(Statements(SqlDialect::Virtuoso, "select 'a\\';b';\n", true), (std::vector<std::string>{"select 'a\\';b'"}));
}

// The SQLite inputs of the fuzz corpus (first byte '3'), whole.
std::vector<std::string> SqliteCorpus() {
  std::vector<std::string> texts;
  DIR* dir = opendir(SPLITTER_CORPUS_DIR);
  if (dir == nullptr) return texts;
  while (dirent* entry = readdir(dir)) {
    std::ifstream file(std::string(SPLITTER_CORPUS_DIR) + "/" + entry->d_name, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    std::string text = contents.str();
    if (text.size() > 1 && text[0] == '3' && text.find('\0') == std::string::npos) texts.push_back(text.substr(1));
  }
  closedir(dir);
  return texts;
}

// True when a statement is a CREATE TRIGGER cut before its BEGIN: the splitter ends it at a delimiter, where
// sqlite3_complete reads on to a "; END ;" that may never come.
bool IsTriggerWithoutBody(std::string statement) {
  for (char& c : statement) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return statement.find("trigger") != std::string::npos && statement.find("begin") == std::string::npos;
}

// Fed a line at a time, the splitter holds a complete statement and nothing after it exactly where
// sqlite3_complete says the text so far is complete, over every SQLite input of the fuzz corpus.
TEST(SplitterTest, CompleteWhereSqlite3CompleteSaysSoOverTheCorpus) {
  std::vector<std::string> corpus = SqliteCorpus();
  ASSERT_GE(corpus.size(), 1000u);
  size_t prefixes = 0;
  size_t triggersWithoutBody = 0;
  for (const std::string& text : corpus) {
    StatementSplitter splitter;
    InitSplitter(splitter, SqlDialect::Sqlite);
    bool fEndedByDelimiter = false;   // the last piece with more than blank lines was ended by a delimiter
    bool fBodilessTrigger = false;    // a statement so far was a trigger without its body
    SqlPiece piece;
    for (size_t from = 0; from < text.size();) {
      size_t newline = text.find('\n', from);
      size_t to = newline == std::string::npos ? text.size() : newline + 1;
      FeedSplitter(splitter, std::string_view(text).substr(from, to - from));
      while (NextPiece(splitter, piece, false)) {
        if (!piece.delimiter.empty()) fEndedByDelimiter = true;
        if (piece.kind == PieceKind::Statement && IsTriggerWithoutBody(std::string(piece.text))) fBodilessTrigger = true;
      }
      from = to;
      bool fComplete = fEndedByDelimiter && !StatementPending(splitter);
      bool fSqliteComplete = sqlite3_complete(text.substr(0, to).c_str()) != 0;
      ++prefixes;
      if (fComplete && !fSqliteComplete && fBodilessTrigger) {
        ++triggersWithoutBody;
        continue;
      }
      ASSERT_EQ(fComplete, fSqliteComplete) << "after:\n" << text.substr(0, to);
    }
  }
  EXPECT_GE(prefixes, 3000u);
  // Cut triggers are a small share of the corpus.
  EXPECT_LT(triggersWithoutBody, prefixes / 10);
}

}  // namespace
