// The statement splitter: a small lexer that finds where SQL statements end, fed a line at a time or a whole text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "odbc/data_source.h"

// How a dialect finds the blocks inside which a delimiter does not end a statement.
enum class BlockRule : unsigned char {
  None,         // no blocks
  TriggerBody,  // from the BEGIN of a trigger, only a delimiter after "; END" ends the statement
  BeginAtomic,  // BEGIN ATOMIC and CASE open blocks that END closes
};

// A dialect's lexical rules, filled once for the dialect when a splitter starts.
struct SplitterRules {
  bool fBackslashEscapes = false;   // '...' and "..." take backslash escapes
  bool fEscapeStrings = false;      // E'...' takes backslash escapes
  bool fDoubleQuoteString = false;  // "..." is a string, not a name
  bool fBacktickNames = false;      // `...` quotes a name
  bool fBracketNames = false;       // [...] quotes a name
  bool fBracketDoubles = false;     // ]] inside [...] stands for ]
  bool fHashComments = false;       // # opens a line comment
  bool fDashNeedsBlank = false;     // -- opens a comment only before a blank or control byte
  bool fNestedComments = false;     // /* */ comments nest
  bool fCodeComments = false;       // /*! ... */ and /*M! ... */ hold code the server runs
  bool fDollarQuotes = false;       // $tag$ ... $tag$ bodies
  bool fDelimiterLines = false;     // DELIMITER lines change the delimiter
  char nestOpen = 0;                // the bracket inside which a delimiter ends nothing, '(' or '{' (0: none)
  char nestClose = 0;               // its closing bracket
  BlockRule blocks = BlockRule::None;  // how BEGIN ... END blocks are found
  const char* szBlockLead = "";     // first words of a statement that may hold blocks, blank-separated
  const char* szBlockSkip = "";     // words that may come between the first word and the one that tells
  const char* szBlockOpen = "";     // words that make the statement one that holds blocks
};

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
  Blocks,    // a trigger or routine: its words open and close blocks
  Off,       // no block possible: words are not looked at
};

// Where a trigger's text stands, for BlockRule::TriggerBody.
enum class TriggerStep : unsigned char {
  None,       // not a trigger
  Header,     // before its BEGIN: a delimiter ends it
  Body,       // inside its body
  AfterSemi,  // a delimiter inside the body came last
  AfterEnd,   // a delimiter and then END came last: the next delimiter ends the trigger
};

// The splitter's whole state: the text not yet handed out and where the lexer stands in it.
struct StatementSplitter {
  SqlDialect dialect = SqlDialect::Generic;  // the dialect followed
  SplitterRules rules;                       // its rules
  std::string delimiter = ";";               // what ends a statement (a DELIMITER line changes it)
  std::string buffer;                        // text fed and not yet dropped
  size_t start = 0;                          // where the next piece begins in buffer
  size_t scanned = 0;                        // how far the lexer has read
  LexState state = LexState::Top;            // where the lexer stands at `scanned`
  bool fEscapes = false;                     // the open string takes backslash escapes
  int commentDepth = 0;                      // nesting of the open /* */ comment
  size_t commentOffset = 0;                  // where the open comment begins, counted from `start`
  std::string dollarTag;                     // the open body's $tag$, both dollars included
  bool fHasContent = false;                  // the current piece holds more than blanks and comments
  WordWatch watch = WordWatch::Classify;     // how words are watched
  int wordCount = 0;                         // words seen at the top level of the current statement
  int blockDepth = 0;                        // open BEGIN ATOMIC and CASE blocks
  bool fBeginSeen = false;                   // the last word was BEGIN (ATOMIC may follow)
  TriggerStep triggerStep = TriggerStep::None;  // where a trigger's text stands
  int nestDepth = 0;                         // open brackets of rules.nestOpen
  bool fStop[256] = {};                      // bytes that may change the lexer's state inside statement text
};

// Starts a splitter for a dialect. fNoBackslashEscapes is for the MySQL family: set it when the server's
// @@sql_mode holds NO_BACKSLASH_ESCAPES, so that a backslash in '...' and "..." is a plain character
// ('C:\' is then a whole string). Other dialects ignore it.
void InitSplitter(StatementSplitter& splitter, SqlDialect dialect, bool fNoBackslashEscapes = false);

// Appends text (a line with its newline, or any run of text) to what the splitter reads.
void FeedSplitter(StatementSplitter& splitter, std::string_view text);

// Hands out the next piece. Without fEndOfInput only pieces that more text cannot change come out; with it the
// rest of the text comes out too. Returns false when there is no piece yet (or no text left).
bool NextPiece(StatementSplitter& splitter, SqlPiece& piece, bool fEndOfInput);

// True when the text not yet handed out holds the start of a statement, or an open quote, comment or body:
// what is typed next continues it.
bool StatementPending(const StatementSplitter& splitter);

// True only when the lexer certainly stands outside every quote, comment and body: everything fed has been
// read (no token waits for more text) and no block is open. Only then is a line that follows a console command.
bool SplitterAtTopLevel(const StatementSplitter& splitter);

// Drops the text not yet handed out and starts afresh (the delimiter stays).
void DiscardPending(StatementSplitter& splitter);

// Calls visit(context, begin, end) for each run [begin, end) of a statement's text that lies outside every
// quote, comment and body by the rules of `like` (its dialect and delimiter); a run takes in the bytes that
// open what follows it (a quote, "--", "/*", a $tag$).
void ForEachTopLevelRun(const StatementSplitter& like, std::string_view text, void* context,
                        void (*visit)(void* context, size_t begin, size_t end));

// The statement text to send for a piece: its text without leading and trailing blanks.
std::string_view StatementText(const SqlPiece& piece);
