// The statement splitter: a small lexer that finds where SQL statements end, fed a line at a time or a whole text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "odbc/data_source.h"

// What a piece of the input is.
enum class PieceKind {
  Statement,     // statement text to send (its delimiter excluded)
  Skipped,       // blanks and ordinary comments only: never sent
  Directive,     // a DELIMITER line: read by the splitter, never sent
  Unterminated,  // text at end of input that ends inside a quote, comment or body: never sent
};

// One piece of the input. Text and delimiter are views into the splitter's buffer, valid until it is fed again.
struct SqlPiece {
  PieceKind kind = PieceKind::Skipped;  // what the piece is
  std::string_view text;                // the piece's text, as it stands in the input
  std::string_view delimiter;           // the delimiter that ended it ("" at a line end or end of input)
  const char* szOpen = nullptr;         // for Unterminated: what is left open, e.g. "quoted string"
};

// Where the lexer stands: outside everything, or inside one kind of quote, comment or body.
enum class LexState : unsigned char {
  Top,           // statement text
  LineComment,   // -- or # up to the line end
  BlockComment,  // /* ... */ (commentDepth deep)
  SingleQuote,   // '...'
  DoubleQuote,   // "..."
  Backtick,      // `...`
  Bracket,       // [...]
  DollarBody,    // $tag$ ... $tag$
};

// How the words of the current statement are watched for BEGIN ... END blocks.
enum class WordWatch : unsigned char {
  Classify,  // the first words decide whether the statement may hold a block
  Blocks,    // a trigger or routine: BEGIN, CASE and END open and close blocks
  Off,       // no block possible: words are not looked at
};

// The splitter's whole state: the text not yet handed out and where the lexer stands in it.
struct StatementSplitter {
  SqlDialect dialect = SqlDialect::Generic;  // the rules followed
  std::string delimiter = ";";               // what ends a statement (a DELIMITER line changes it)
  std::string buffer;                        // text fed and not yet dropped
  size_t start = 0;                          // where the next piece begins in buffer
  size_t scanned = 0;                        // how far the lexer has read
  LexState state = LexState::Top;            // where the lexer stands at `scanned`
  bool fEscapes = false;                     // the open string takes backslash escapes
  bool fCodeComment = false;                 // the open comment is code the server runs (/*! ... */)
  int commentDepth = 0;                      // nesting of the open /* */ comment
  std::string dollarTag;                     // the open body's $tag$, both dollars included
  bool fHasContent = false;                  // the current piece holds more than blanks and comments
  WordWatch watch = WordWatch::Classify;     // how words are watched
  int wordCount = 0;                         // words seen at the top level of the current statement
  int blockDepth = 0;                        // open BEGIN and CASE blocks
  bool fBeginSeen = false;                   // the last word was BEGIN (PostgreSQL: ATOMIC may follow)
  bool fStop[256] = {};                      // bytes that may change the lexer's state inside statement text
};

// Starts a splitter for a dialect.
void InitSplitter(StatementSplitter& splitter, SqlDialect dialect);

// Appends text (a line with its newline, or any run of text) to what the splitter reads.
void FeedSplitter(StatementSplitter& splitter, std::string_view text);

// Hands out the next piece. Without fEndOfInput only pieces that more text cannot change come out; with it the
// rest of the text comes out too. Returns false when there is no piece yet (or no text left).
bool NextPiece(StatementSplitter& splitter, SqlPiece& piece, bool fEndOfInput);

// True when the text not yet handed out holds the start of a statement, or an open quote, comment or body:
// what is typed next continues it.
bool StatementPending(const StatementSplitter& splitter);

// True when the lexer stands outside every quote, comment and body.
bool SplitterAtTopLevel(const StatementSplitter& splitter);

// Drops the text not yet handed out and starts afresh (the delimiter stays).
void DiscardPending(StatementSplitter& splitter);

// The statement text to send for a piece: its text without leading and trailing blanks.
std::string_view StatementText(const SqlPiece& piece);
