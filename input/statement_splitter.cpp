// The statement splitter: a small lexer that finds where SQL statements end, fed a line at a time or a whole text.
#include "input/statement_splitter.h"

#include <cstring>

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80; }
bool IsWordByte(unsigned char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '$'; }

// True when the len bytes at text spell the len bytes at upper (upper case) in any case.
bool SameWord(const char* text, const char* upper, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c != static_cast<unsigned char>(upper[i])) return false;
  }
  return true;
}

// True when the len bytes at text spell word (upper case) in any case.
bool IsWord(const char* text, size_t len, const char* word) { return strlen(word) == len && SameWord(text, word, len); }

// True when the len bytes at text spell one of the upper-case words of list, each followed by one blank or
// the list's end, in any case.
bool IsWordOf(const char* text, size_t len, const char* list) {
  for (const char* at = list; *at != '\0';) {
    size_t wordLen = 0;
    while (at[wordLen] != ' ' && at[wordLen] != '\0') ++wordLen;
    if (wordLen == len && SameWord(text, at, len)) return true;
    at += at[wordLen] == ' ' ? wordLen + 1 : wordLen;
  }
  return false;
}

// Each dialect's rules.
SplitterRules RulesOf(SqlDialect dialect, bool fNoBackslashEscapes) {
  SplitterRules r;
  switch (dialect) {
    case SqlDialect::Generic: break;
    case SqlDialect::PostgreSql:
      r.fEscapeStrings = r.fNestedComments = r.fDollarQuotes = true;
      r.nestOpen = '(';
      r.nestClose = ')';
      r.blocks = BlockRule::BeginAtomic;
      r.szBlockLead = "CREATE";
      r.szBlockSkip = "OR REPLACE";
      r.szBlockOpen = "FUNCTION PROCEDURE";
      break;
    case SqlDialect::MySql:
      r.fBackslashEscapes = !fNoBackslashEscapes;
      r.fDoubleQuoteString = r.fBacktickNames = r.fHashComments = r.fDashNeedsBlank = true;
      r.fCodeComments = r.fDelimiterLines = true;
      break;
    case SqlDialect::Sqlite:
      r.fBacktickNames = r.fBracketNames = true;
      r.blocks = BlockRule::TriggerBody;
      r.szBlockLead = "CREATE EXPLAIN";
      r.szBlockSkip = "CREATE TEMP TEMPORARY QUERY PLAN";
      r.szBlockOpen = "TRIGGER";
      break;
    case SqlDialect::SqlServer:
      r.fBracketNames = r.fBracketDoubles = r.fNestedComments = true;
      break;
    case SqlDialect::Virtuoso:
      r.fBackslashEscapes = true;
      r.nestOpen = '{';
      r.nestClose = '}';
      break;
  }
  return r;
}

// True when the comment of len bytes at text is code the MySQL family runs: /*! and MariaDB's /*M!, unless
// its version is 999999, which no server reaches (the dump tools' mark for their own client).
bool IsCodeComment(const char* text, size_t len) {
  size_t bang = len > 3 && text[2] == 'M' ? 3 : 2;
  if (len <= bang || text[bang] != '!') return false;
  return !(len >= bang + 7 && memcmp(text + bang + 1, "999999", 6) == 0);
}

// The bytes that matter inside statement text: quotes, comment starts, brackets, the delimiter's first byte.
void BuildStopBytes(StatementSplitter& s) {
  const SplitterRules& r = s.rules;
  memset(s.fStop, 0, sizeof s.fStop);
  for (unsigned char c : {'\'', '"', '-', '/'}) s.fStop[c] = true;
  s.fStop[static_cast<unsigned char>('$')] = r.fDollarQuotes;
  s.fStop[static_cast<unsigned char>('#')] = r.fHashComments;
  s.fStop[static_cast<unsigned char>('`')] = r.fBacktickNames;
  s.fStop[static_cast<unsigned char>('[')] = r.fBracketNames;
  if (r.nestOpen != 0) s.fStop[static_cast<unsigned char>(r.nestOpen)] = s.fStop[static_cast<unsigned char>(r.nestClose)] = true;
  if (!s.delimiter.empty()) s.fStop[static_cast<unsigned char>(s.delimiter[0])] = true;
}

// Forgets what the ended statement held.
void ResetStatement(StatementSplitter& s) {
  s.fHasContent = false;
  s.watch = s.rules.szBlockLead[0] != '\0' ? WordWatch::Classify : WordWatch::Off;
  s.wordCount = 0;
  s.blockDepth = 0;
  s.fBeginSeen = false;
  s.triggerStep = TriggerStep::None;
  s.nestDepth = 0;
}

// True when a delimiter here is statement text: inside brackets or a block.
bool InsideBlock(const StatementSplitter& s) {
  return s.nestDepth > 0 || s.blockDepth > 0 ||
         (s.triggerStep >= TriggerStep::Body && s.triggerStep <= TriggerStep::AfterSemi);
}

// Hands out buffer[start, textEnd) as a piece ended by buffer[textEnd, next).
void EmitPiece(StatementSplitter& s, SqlPiece& piece, PieceKind kind, size_t textEnd, size_t next) {
  const char* b = s.buffer.data();
  piece.kind = kind;
  piece.text = std::string_view(b + s.start, textEnd - s.start);
  piece.delimiter = std::string_view(b + textEnd, next - textEnd);
  piece.szOpen = nullptr;
  s.start = s.scanned = next;
  ResetStatement(s);
}

// The first words of a statement tell whether it holds blocks: a trigger (SQLite), a routine (PostgreSQL).
void ClassifyWord(StatementSplitter& s, const char* word, size_t len) {
  const SplitterRules& r = s.rules;
  if (s.wordCount == 1) {
    if (!IsWordOf(word, len, r.szBlockLead)) s.watch = WordWatch::Off;
  } else if (IsWordOf(word, len, r.szBlockOpen)) {
    s.watch = WordWatch::Blocks;
    if (r.blocks == BlockRule::TriggerBody) s.triggerStep = TriggerStep::Header;
  } else if (!IsWordOf(word, len, r.szBlockSkip)) {
    s.watch = WordWatch::Off;
  }
}

// Takes note of a word of statement text (never one after a '.', which is a name) in a statement that may
// hold blocks.
void WatchWord(StatementSplitter& s, const char* word, size_t len) {
  ++s.wordCount;
  if (s.watch == WordWatch::Classify) {
    ClassifyWord(s, word, len);
    return;
  }
  if (s.rules.blocks == BlockRule::TriggerBody) {
    // A trigger's body ends at "; END ;": BEGIN and END elsewhere may be names (SET end = 1, new.begin).
    bool fEnd = s.triggerStep == TriggerStep::AfterSemi && IsWord(word, len, "END");
    if (s.triggerStep == TriggerStep::Header && IsWord(word, len, "BEGIN")) {
      s.triggerStep = TriggerStep::Body;
    } else if (s.triggerStep != TriggerStep::Header) {
      s.triggerStep = fEnd ? TriggerStep::AfterEnd : TriggerStep::Body;
    }
    return;
  }
  bool fBeginSeen = s.fBeginSeen;
  s.fBeginSeen = IsWord(word, len, "BEGIN");
  if ((fBeginSeen && IsWord(word, len, "ATOMIC")) || IsWord(word, len, "CASE")) {
    ++s.blockDepth;
  } else if (IsWord(word, len, "END") && s.blockDepth > 0) {
    --s.blockDepth;
  }
}

// A token of a trigger's body other than a word or a delimiter: "; END" no longer came last.
void NoteToken(StatementSplitter& s) {
  if (s.triggerStep > TriggerStep::Body) s.triggerStep = TriggerStep::Body;
}

// What an open state is called in the report of an unterminated statement.
const char* OpenStateName(const StatementSplitter& s) {
  switch (s.state) {
    case LexState::SingleQuote: return "quoted string";
    case LexState::DoubleQuote: return s.rules.fDoubleQuoteString ? "double-quoted string" : "quoted identifier";
    case LexState::Backtick: return "backquoted identifier";
    case LexState::Bracket: return "bracketed identifier";
    case LexState::BlockComment: return "comment";
    case LexState::DollarBody: return "dollar-quoted body";
    case LexState::Top:
    case LexState::LineComment: break;
  }
  return nullptr;
}

// At a line of a MySQL-family input that so far holds only blanks, reads a DELIMITER line. Returns the end
// of the line and sets *newDelimiter when it is one, 0 when it is not, or npos when the line is not whole yet.
size_t ReadDelimiterLine(const StatementSplitter& s, size_t pos, bool fEndOfInput, std::string* newDelimiter) {
  const char* b = s.buffer.data();
  size_t end = s.buffer.size();
  for (size_t k = pos; k > s.start && b[k - 1] != '\n'; --k) {
    if (b[k - 1] != ' ' && b[k - 1] != '\t') return 0;
  }
  const void* newline = memchr(b + pos, '\n', end - pos);
  if (newline == nullptr && !fEndOfInput) return std::string::npos;
  size_t lineEnd = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - b) : end;
  constexpr size_t kWordLen = 9;
  if (lineEnd - pos <= kWordLen || !IsWord(b + pos, kWordLen, "DELIMITER") || (b[pos + kWordLen] != ' ' && b[pos + kWordLen] != '\t')) {
    return 0;
  }
  size_t from = pos + kWordLen;
  while (from < lineEnd && IsBlank(static_cast<unsigned char>(b[from]))) ++from;
  size_t to = from;
  while (to < lineEnd && !IsBlank(static_cast<unsigned char>(b[to]))) ++to;
  if (to == from) return 0;  // no delimiter given: the server will answer the line
  newDelimiter->assign(b + from, to - from);
  return lineEnd;
}

// The text one call of NextPiece reads, and how far it has read.
struct Scan {
  const char* text;  // the splitter's buffer
  size_t end;        // its size
  size_t pos;        // the next byte to read
  bool fEndOfInput;  // no more text will come
};

// What reading one token did.
enum class Step : unsigned char {
  Continue,  // read on (the lexer's state may have changed)
  Piece,     // a piece is out
  More,      // the token at scan.pos needs text not fed yet
  Ordinary,  // the byte at scan.pos opens nothing: it is plain statement text
};

// True when the bytes that decide the token at `at` lie beyond the text so far and more may come: the token
// is read again from `at` then. At the end of input the token is read with what there is.
bool WaitFor(Scan& scan, size_t at) {
  if (scan.fEndOfInput) return false;
  scan.pos = at;
  return true;
}

// At the delimiter's first byte: ends the piece, unless the delimiter is inside a block or is not one.
Step AtDelimiter(StatementSplitter& s, Scan& scan, SqlPiece& piece) {
  size_t pos = scan.pos;
  size_t len = s.delimiter.size();
  if (pos + len > scan.end) {
    if (memcmp(scan.text + pos, s.delimiter.data(), scan.end - pos) == 0 && WaitFor(scan, pos)) return Step::More;
    return Step::Ordinary;
  }
  if (len > 1 && memcmp(scan.text + pos, s.delimiter.data(), len) != 0) return Step::Ordinary;
  if (InsideBlock(s)) {
    if (s.triggerStep >= TriggerStep::Body) s.triggerStep = TriggerStep::AfterSemi;
    s.fHasContent = true;
    scan.pos = pos + len;
    return Step::Continue;
  }
  s.scanned = pos + len;
  EmitPiece(s, piece, s.fHasContent ? PieceKind::Statement : PieceKind::Skipped, pos, pos + len);
  return Step::Piece;
}

// Enters a quoted string or name at scan.pos.
Step OpenQuote(StatementSplitter& s, Scan& scan, LexState state, bool fEscapes) {
  s.state = state;
  s.fEscapes = fEscapes;
  s.fHasContent = true;
  NoteToken(s);
  ++scan.pos;
  return Step::Continue;
}

// At a '$' of PostgreSQL text: opens a $tag$ body unless the '$' is part of a name or a parameter ($1).
Step OpenDollarBody(StatementSplitter& s, Scan& scan, unsigned char prev) {
  const char* b = scan.text;
  size_t pos = scan.pos;
  if (IsWordByte(prev)) return Step::Ordinary;
  size_t q = pos + 1;
  if (q < scan.end && !(b[q] >= '0' && b[q] <= '9')) {
    while (q < scan.end && IsWordByte(static_cast<unsigned char>(b[q])) && b[q] != '$') ++q;
  }
  if (q >= scan.end && WaitFor(scan, pos)) return Step::More;
  if (q >= scan.end || b[q] != '$') return Step::Ordinary;
  s.dollarTag.assign(b + pos, q + 1 - pos);
  s.state = LexState::DollarBody;
  s.fHasContent = true;
  scan.pos = q + 1;
  return Step::Continue;
}

// At a byte of statement text that may open a quote, a comment or a body: opens it.
Step OpenToken(StatementSplitter& s, Scan& scan) {
  const SplitterRules& r = s.rules;
  const char* b = scan.text;
  size_t pos = scan.pos;
  unsigned char c = static_cast<unsigned char>(b[pos]);
  unsigned char prev = pos > s.start ? static_cast<unsigned char>(b[pos - 1]) : ' ';
  switch (c) {
    case '\'': {
      bool fEString = r.fEscapeStrings && (prev == 'E' || prev == 'e') &&
                      (pos - 1 <= s.start || !IsWordByte(static_cast<unsigned char>(b[pos - 2])));
      return OpenQuote(s, scan, LexState::SingleQuote, r.fBackslashEscapes || fEString);
    }
    case '"': return OpenQuote(s, scan, LexState::DoubleQuote, r.fBackslashEscapes);
    case '`': return r.fBacktickNames ? OpenQuote(s, scan, LexState::Backtick, false) : Step::Ordinary;
    case '[': return r.fBracketNames ? OpenQuote(s, scan, LexState::Bracket, false) : Step::Ordinary;
    case '$': return r.fDollarQuotes ? OpenDollarBody(s, scan, prev) : Step::Ordinary;
    case '#':
      if (!r.fHashComments) return Step::Ordinary;
      s.state = LexState::LineComment;
      ++scan.pos;
      return Step::Continue;
    case '-':
    case '/': break;
    default: return Step::Ordinary;
  }
  if (pos + 1 >= scan.end && WaitFor(scan, pos)) return Step::More;
  unsigned char next = pos + 1 < scan.end ? static_cast<unsigned char>(b[pos + 1]) : 0;
  if (c == '-' && next == '-') {
    // MySQL takes -- for a comment only before a blank or control character.
    if (r.fDashNeedsBlank && pos + 2 >= scan.end && WaitFor(scan, pos)) return Step::More;
    if (r.fDashNeedsBlank && pos + 2 < scan.end && static_cast<unsigned char>(b[pos + 2]) > ' ') return Step::Ordinary;
    s.state = LexState::LineComment;
    scan.pos = pos + 2;
    return Step::Continue;
  }
  if (c == '/' && next == '*') {
    // Known to be a comment at once; whether it is code the server runs is read at its end.
    s.state = LexState::BlockComment;
    s.commentDepth = 1;
    s.commentOffset = pos - s.start;
    scan.pos = pos + 2;
    return Step::Continue;
  }
  return Step::Ordinary;
}

// A byte of statement text that opens nothing: a word is watched for blocks; brackets are counted.
Step ReadText(StatementSplitter& s, Scan& scan, SqlPiece& piece) {
  const char* b = scan.text;
  size_t pos = scan.pos;
  unsigned char c = static_cast<unsigned char>(b[pos]);
  unsigned char prev = pos > s.start ? static_cast<unsigned char>(b[pos - 1]) : ' ';
  if (IsLetter(c) && !IsWordByte(prev)) {
    if (s.rules.fDelimiterLines && !s.fHasContent && (c == 'd' || c == 'D')) {
      std::string newDelimiter;
      size_t lineEnd = ReadDelimiterLine(s, pos, scan.fEndOfInput, &newDelimiter);
      if (lineEnd == std::string::npos) return Step::More;
      if (lineEnd != 0) {
        s.scanned = lineEnd;
        EmitPiece(s, piece, PieceKind::Directive, lineEnd, lineEnd);
        s.delimiter = newDelimiter;
        BuildStopBytes(s);
        return Step::Piece;
      }
    }
    if (s.watch != WordWatch::Off) {
      size_t q = pos;
      while (q < scan.end && IsWordByte(static_cast<unsigned char>(b[q]))) ++q;
      if (q == scan.end && WaitFor(scan, pos)) return Step::More;
      if (prev != '.') WatchWord(s, b + pos, q - pos);
      s.fHasContent = true;
      scan.pos = q;
      return Step::Continue;
    }
  }
  if (c == static_cast<unsigned char>(s.rules.nestOpen) && c != 0) {
    ++s.nestDepth;
  } else if (c == static_cast<unsigned char>(s.rules.nestClose) && c != 0 && s.nestDepth > 0) {
    --s.nestDepth;
  }
  if (!IsBlank(c)) {
    s.fHasContent = true;
    NoteToken(s);
  }
  scan.pos = pos + 1;
  return Step::Continue;
}

// Statement text: skips to the next byte that matters and reads it.
Step ScanTop(StatementSplitter& s, Scan& scan, SqlPiece& piece) {
  const char* b = scan.text;
  while (scan.pos < scan.end) {
    if (s.fHasContent && s.watch == WordWatch::Off) {
      size_t pos = scan.pos;
      const size_t end = scan.end;
      const bool* fStop = s.fStop;
      while (pos < end && !fStop[static_cast<unsigned char>(b[pos])]) ++pos;
      scan.pos = pos;
      if (pos == end) break;
    }
    unsigned char c = static_cast<unsigned char>(b[scan.pos]);
    if (!s.fHasContent && IsBlank(c)) {
      ++scan.pos;
      // A line of blanks and comments before any statement text is a piece of its own, never sent.
      if (c == '\n') {
        EmitPiece(s, piece, PieceKind::Skipped, scan.pos, scan.pos);
        return Step::Piece;
      }
      continue;
    }
    Step step = c == static_cast<unsigned char>(s.delimiter[0]) ? AtDelimiter(s, scan, piece) : Step::Ordinary;
    if (step == Step::Ordinary) step = OpenToken(s, scan);
    if (step == Step::Ordinary) step = ReadText(s, scan, piece);
    if (step != Step::Continue || s.state != LexState::Top) return step;
  }
  return Step::Continue;
}

// A line comment: up to the line end, which is statement text again.
Step ScanLineComment(StatementSplitter& s, Scan& scan, SqlPiece&) {
  const void* newline = memchr(scan.text + scan.pos, '\n', scan.end - scan.pos);
  if (newline == nullptr) {
    scan.pos = scan.end;
  } else {
    scan.pos = static_cast<size_t>(static_cast<const char*>(newline) - scan.text);
    s.state = LexState::Top;
  }
  return Step::Continue;
}

// A block comment: up to its */ (nested ones too where the dialect nests them).
Step ScanBlockComment(StatementSplitter& s, Scan& scan, SqlPiece&) {
  const char* b = scan.text;
  size_t pos = scan.pos;
  while (pos < scan.end && b[pos] != '*' && b[pos] != '/') ++pos;
  scan.pos = pos;
  if (pos == scan.end) return Step::Continue;
  if (pos + 1 >= scan.end && WaitFor(scan, pos)) return Step::More;
  char next = pos + 1 < scan.end ? b[pos + 1] : '\0';
  if (b[pos] == '*' && next == '/') {
    scan.pos = pos + 2;
    if (--s.commentDepth > 0) return Step::Continue;
    s.state = LexState::Top;
    // The server runs what a code comment holds: the piece is a statement.
    const char* comment = b + s.start + s.commentOffset;
    if (s.rules.fCodeComments && IsCodeComment(comment, static_cast<size_t>(b + scan.pos - comment))) s.fHasContent = true;
  } else if (b[pos] == '/' && next == '*' && s.rules.fNestedComments) {
    scan.pos = pos + 2;
    ++s.commentDepth;
  } else {
    scan.pos = pos + 1;
  }
  return Step::Continue;
}

// A quoted string or name: up to its closing character; a doubled one, or an escaped one, stands for itself.
Step ScanQuote(StatementSplitter& s, Scan& scan, SqlPiece&) {
  const char* b = scan.text;
  const size_t end = scan.end;
  char close = s.state == LexState::SingleQuote ? '\'' : s.state == LexState::DoubleQuote ? '"'
               : s.state == LexState::Backtick  ? '`' : ']';
  // SQLite's brackets take no doubling.
  bool fDoubles = close != ']' || s.rules.fBracketDoubles;
  bool fEscapes = s.fEscapes;
  size_t pos = scan.pos;
  for (;;) {
    if (fEscapes) {
      while (pos < end && b[pos] != close && b[pos] != '\\') ++pos;
    } else {
      const void* found = memchr(b + pos, close, end - pos);
      pos = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - b) : end;
    }
    if (pos == end) break;
    if (pos + 1 >= end && (fDoubles || b[pos] == '\\') && WaitFor(scan, pos)) return Step::More;
    if (b[pos] == '\\') {
      pos = pos + 2 > end ? end : pos + 2;
    } else if (fDoubles && pos + 1 < end && b[pos + 1] == close) {
      pos += 2;
    } else {
      s.state = LexState::Top;
      ++pos;
      break;
    }
  }
  scan.pos = pos;
  return Step::Continue;
}

// A $tag$ body: up to the same tag.
Step ScanDollarBody(StatementSplitter& s, Scan& scan, SqlPiece&) {
  const char* b = scan.text;
  const void* dollar = memchr(b + scan.pos, '$', scan.end - scan.pos);
  if (dollar == nullptr) {
    scan.pos = scan.end;
    return Step::Continue;
  }
  size_t pos = static_cast<size_t>(static_cast<const char*>(dollar) - b);
  size_t tagLen = s.dollarTag.size();
  if (scan.end - pos < tagLen) {
    if (WaitFor(scan, pos)) return Step::More;
    scan.pos = scan.end;
    return Step::Continue;
  }
  if (memcmp(b + pos, s.dollarTag.data(), tagLen) == 0) {
    s.state = LexState::Top;
    scan.pos = pos + tagLen;
  } else {
    scan.pos = pos + 1;
  }
  return Step::Continue;
}

// One reader a lexer state, in the order of LexState.
using StateReader = Step (*)(StatementSplitter&, Scan&, SqlPiece&);
constexpr StateReader kStateReaders[] = {ScanTop,   ScanLineComment, ScanBlockComment, ScanQuote,
                                         ScanQuote, ScanQuote,       ScanQuote,        ScanDollarBody};

// Reads on from `scanned`. Returns true with a piece when one ends; false when the text so far ends first.
bool ScanPiece(StatementSplitter& s, SqlPiece& piece, bool fEndOfInput) {
  Scan scan{s.buffer.data(), s.buffer.size(), s.scanned, fEndOfInput};
  while (scan.pos < scan.end) {
    // Statement text, the commonest state, is read without the table.
    Step step = s.state == LexState::Top ? ScanTop(s, scan, piece) : kStateReaders[static_cast<int>(s.state)](s, scan, piece);
    if (step == Step::Piece) return true;
    if (step == Step::More) {
      s.scanned = scan.pos;
      return false;
    }
  }
  s.scanned = scan.end;
  if (!fEndOfInput || s.start == scan.end) return false;
  // End of input: the rest is a statement, unless it ends inside something never closed.
  const char* szOpen = OpenStateName(s);
  PieceKind kind = szOpen != nullptr ? PieceKind::Unterminated : s.fHasContent ? PieceKind::Statement : PieceKind::Skipped;
  s.state = LexState::Top;
  EmitPiece(s, piece, kind, scan.end, scan.end);
  piece.szOpen = szOpen;
  return true;
}

}  // namespace

void InitSplitter(StatementSplitter& splitter, SqlDialect dialect, bool fNoBackslashEscapes) {
  splitter = StatementSplitter{};
  splitter.dialect = dialect;
  splitter.rules = RulesOf(dialect, fNoBackslashEscapes);
  ResetStatement(splitter);
  BuildStopBytes(splitter);
}

void FeedSplitter(StatementSplitter& splitter, std::string_view text) {
  // Pieces handed out are dropped now, in one move once they are most of the buffer.
  if (splitter.start == splitter.buffer.size()) {
    splitter.buffer.clear();
    splitter.start = splitter.scanned = 0;
  } else if (splitter.start > 0 && splitter.start >= splitter.buffer.size() / 2) {
    splitter.buffer.erase(0, splitter.start);
    splitter.scanned -= splitter.start;
    splitter.start = 0;
  }
  splitter.buffer.append(text.data(), text.size());
}

bool NextPiece(StatementSplitter& splitter, SqlPiece& piece, bool fEndOfInput) {
  return ScanPiece(splitter, piece, fEndOfInput);
}

bool StatementPending(const StatementSplitter& splitter) {
  bool fOpen = splitter.state != LexState::Top && splitter.state != LexState::LineComment;
  return splitter.fHasContent || fOpen || InsideBlock(splitter) || splitter.scanned < splitter.buffer.size();
}

bool SplitterAtTopLevel(const StatementSplitter& splitter) {
  return splitter.state == LexState::Top && splitter.scanned == splitter.buffer.size() && !InsideBlock(splitter);
}

void DiscardPending(StatementSplitter& splitter) {
  splitter.buffer.clear();
  splitter.start = splitter.scanned = 0;
  splitter.state = LexState::Top;
  splitter.commentDepth = 0;
  splitter.dollarTag.clear();
  ResetStatement(splitter);
}

void ForEachTopLevelRun(const StatementSplitter& like, std::string_view text, void* context,
                        void (*visit)(void* context, size_t begin, size_t end)) {
  StatementSplitter s;
  InitSplitter(s, like.dialect);
  s.rules = like.rules;
  s.delimiter = like.delimiter;
  BuildStopBytes(s);
  s.buffer.assign(text.data(), text.size());
  Scan scan{s.buffer.data(), s.buffer.size(), 0, true};
  SqlPiece piece;
  while (scan.pos < scan.end) {
    if (s.state != LexState::Top) {
      kStateReaders[static_cast<int>(s.state)](s, scan, piece);
      continue;
    }
    size_t begin = scan.pos;
    // A delimiter inside the text (a trigger's body) hands out a piece: reading goes on after it.
    if (ScanTop(s, scan, piece) == Step::Piece) scan.pos = s.scanned;
    visit(context, begin, scan.pos);
  }
}

std::string_view StatementText(const SqlPiece& piece) {
  std::string_view text = piece.text;
  while (!text.empty() && IsBlank(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsBlank(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}
