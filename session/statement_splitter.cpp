// The statement splitter: a small lexer that finds where SQL statements end, fed a line at a time or a whole text.
#include "session/statement_splitter.h"

#include <cstring>

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80; }
bool IsWordByte(unsigned char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '$'; }

// True when the len bytes at text spell word (upper case) in any case.
bool IsWord(const char* text, size_t len, const char* word) {
  if (strlen(word) != len) return false;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

bool StartsWithAnyCase(const char* haystack, const char* needle) {
  return strncasecmp(haystack, needle, strlen(needle)) == 0;
}

// True when the comment at text (len bytes at most) is code the MySQL family runs: /*! and MariaDB's /*M!,
// unless its version is 999999, which no server reaches (the dump tools' mark for their own client).
bool IsCodeComment(const char* text, size_t len) {
  size_t bang = len > 3 && text[2] == 'M' ? 3 : 2;
  if (len <= bang || text[bang] != '!') return false;
  return !(len >= bang + 7 && memcmp(text + bang + 1, "999999", 6) == 0);
}

// The bytes that matter inside statement text: quotes, comment starts, the delimiter's first byte.
void BuildStopBytes(StatementSplitter& s) {
  memset(s.fStop, 0, sizeof s.fStop);
  for (unsigned char c : {'\'', '"', '-', '/'}) s.fStop[c] = true;
  if (!s.delimiter.empty()) s.fStop[static_cast<unsigned char>(s.delimiter[0])] = true;
  auto stopAt = [&s](unsigned char byte) { s.fStop[byte] = true; };
  switch (s.dialect) {
    case SqlDialect::PostgreSql: stopAt('$'); break;
    case SqlDialect::MySql: stopAt('#'); stopAt('`'); break;
    case SqlDialect::Sqlite: stopAt('['); stopAt('`'); break;
    case SqlDialect::SqlServer: stopAt('['); break;
    case SqlDialect::Generic: break;
  }
}

// Forgets what the ended statement held.
void ResetStatement(StatementSplitter& s) {
  s.fHasContent = false;
  s.watch = WordWatch::Classify;
  s.wordCount = 0;
  s.blockDepth = 0;
  s.fBeginSeen = false;
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

// Takes note of a word of statement text: the first words tell a trigger (SQLite) or a routine (PostgreSQL),
// whose BEGIN ... END blocks hold delimiters that do not end it.
void WatchWord(StatementSplitter& s, const char* word, size_t len) {
  ++s.wordCount;
  if (s.watch == WordWatch::Classify) {
    if (s.wordCount == 1) {
      bool fMayHoldBlock = s.dialect == SqlDialect::Sqlite || s.dialect == SqlDialect::PostgreSql;
      if (!fMayHoldBlock || !IsWord(word, len, "CREATE")) s.watch = WordWatch::Off;
    } else if (s.dialect == SqlDialect::Sqlite) {
      if (IsWord(word, len, "TRIGGER")) {
        s.watch = WordWatch::Blocks;
      } else if (!IsWord(word, len, "TEMP") && !IsWord(word, len, "TEMPORARY")) {
        s.watch = WordWatch::Off;
      }
    } else if (IsWord(word, len, "FUNCTION") || IsWord(word, len, "PROCEDURE")) {
      s.watch = WordWatch::Blocks;
    } else if (!IsWord(word, len, "OR") && !IsWord(word, len, "REPLACE")) {
      s.watch = WordWatch::Off;
    }
    return;
  }
  bool fBeginSeen = s.fBeginSeen;
  s.fBeginSeen = false;
  if (IsWord(word, len, "BEGIN")) {
    if (s.dialect == SqlDialect::Sqlite) {
      ++s.blockDepth;
    } else {
      s.fBeginSeen = true;  // PostgreSQL opens a block with BEGIN ATOMIC only
    }
  } else if (fBeginSeen && IsWord(word, len, "ATOMIC")) {
    ++s.blockDepth;
  } else if (IsWord(word, len, "CASE")) {
    ++s.blockDepth;
  } else if (IsWord(word, len, "END") && s.blockDepth > 0) {
    --s.blockDepth;
  }
}

// What an open state is called in the report of an unterminated statement.
const char* OpenStateName(const StatementSplitter& s) {
  switch (s.state) {
    case LexState::SingleQuote: return "quoted string";
    case LexState::DoubleQuote: return s.dialect == SqlDialect::MySql ? "double-quoted string" : "quoted identifier";
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

// Reads on from `scanned`. Returns true with a piece when one ends; false when the text so far ends first.
bool ScanPiece(StatementSplitter& s, SqlPiece& piece, bool fEndOfInput) {
  const char* b = s.buffer.data();
  const size_t end = s.buffer.size();
  const bool fMySql = s.dialect == SqlDialect::MySql;
  const bool fNestedComments = s.dialect == SqlDialect::PostgreSql || s.dialect == SqlDialect::SqlServer;
  size_t pos = s.scanned;
  // A token whose end is beyond the text so far is read again once more text has come.
#define NEED_MORE(at)        \
  do {                       \
    if (!fEndOfInput) {      \
      s.scanned = (at);      \
      return false;          \
    }                        \
  } while (0)
  while (pos < end) {
    switch (s.state) {
      case LexState::Top: {
        if (s.fHasContent && s.watch == WordWatch::Off) {
          while (pos < end && !s.fStop[static_cast<unsigned char>(b[pos])]) ++pos;
          if (pos == end) break;
        }
        unsigned char c = static_cast<unsigned char>(b[pos]);
        unsigned char prev = pos > s.start ? static_cast<unsigned char>(b[pos - 1]) : ' ';
        if (!s.fHasContent && IsBlank(c)) {
          ++pos;
          // A line of blanks and comments before any statement text is a piece of its own, never sent.
          if (c == '\n') {
            s.scanned = pos;
            EmitPiece(s, piece, PieceKind::Skipped, pos, pos);
            return true;
          }
          continue;
        }
        if (c == static_cast<unsigned char>(s.delimiter[0])) {
          size_t delimLen = s.delimiter.size();
          if (pos + delimLen > end) {
            if (memcmp(b + pos, s.delimiter.data(), end - pos) == 0) NEED_MORE(pos);
          } else if ((delimLen == 1 || memcmp(b + pos, s.delimiter.data(), delimLen) == 0) && s.blockDepth == 0) {
            s.scanned = pos + delimLen;
            EmitPiece(s, piece, s.fHasContent ? PieceKind::Statement : PieceKind::Skipped, pos, pos + delimLen);
            return true;
          }
        }
        switch (c) {
          case '\'':
            s.state = LexState::SingleQuote;
            s.fEscapes = fMySql || (s.dialect == SqlDialect::PostgreSql && (prev == 'E' || prev == 'e') &&
                                    (pos - 1 <= s.start || !IsWordByte(static_cast<unsigned char>(b[pos - 2]))));
            s.fHasContent = true;
            ++pos;
            continue;
          case '"':
            s.state = LexState::DoubleQuote;
            s.fEscapes = fMySql;
            s.fHasContent = true;
            ++pos;
            continue;
          case '`':
            if (fMySql || s.dialect == SqlDialect::Sqlite) {
              s.state = LexState::Backtick;
              s.fHasContent = true;
              ++pos;
              continue;
            }
            break;
          case '[':
            if (s.dialect == SqlDialect::Sqlite || s.dialect == SqlDialect::SqlServer) {
              s.state = LexState::Bracket;
              s.fHasContent = true;
              ++pos;
              continue;
            }
            break;
          case '#':
            if (fMySql) {
              s.state = LexState::LineComment;
              ++pos;
              continue;
            }
            break;
          case '-':
            if (pos + 1 >= end) NEED_MORE(pos);
            if (pos + 1 < end && b[pos + 1] == '-') {
              // MySQL takes -- for a comment only before a blank or control character.
              if (fMySql && pos + 2 >= end) NEED_MORE(pos);
              if (!fMySql || pos + 2 >= end || static_cast<unsigned char>(b[pos + 2]) <= ' ') {
                s.state = LexState::LineComment;
                pos += 2;
                continue;
              }
            }
            break;
          case '/':
            if (pos + 1 >= end) NEED_MORE(pos);
            if (pos + 1 < end && b[pos + 1] == '*') {
              if (fMySql && pos + 10 > end) NEED_MORE(pos);
              s.fCodeComment = fMySql && IsCodeComment(b + pos, end - pos);
              if (s.fCodeComment) s.fHasContent = true;  // the server runs what it holds
              s.state = LexState::BlockComment;
              s.commentDepth = 1;
              pos += 2;
              continue;
            }
            break;
          case '$':
            if (s.dialect == SqlDialect::PostgreSql && !IsWordByte(prev)) {
              size_t q = pos + 1;
              if (q < end && !(b[q] >= '0' && b[q] <= '9')) {
                while (q < end && IsWordByte(static_cast<unsigned char>(b[q])) && b[q] != '$') ++q;
              }
              if (q >= end) NEED_MORE(pos);
              if (q < end && b[q] == '$') {
                s.dollarTag.assign(b + pos, q + 1 - pos);
                s.state = LexState::DollarBody;
                s.fHasContent = true;
                pos = q + 1;
                continue;
              }
            }
            break;
          default:
            break;
        }
        if (IsLetter(c) && !IsWordByte(prev)) {
          if (fMySql && !s.fHasContent && (c == 'd' || c == 'D')) {
            std::string newDelimiter;
            size_t lineEnd = ReadDelimiterLine(s, pos, fEndOfInput, &newDelimiter);
            if (lineEnd == std::string::npos) {
              s.scanned = pos;
              return false;
            }
            if (lineEnd != 0) {
              s.scanned = lineEnd;
              EmitPiece(s, piece, PieceKind::Directive, lineEnd, lineEnd);
              s.delimiter = newDelimiter;
              BuildStopBytes(s);
              return true;
            }
          }
          if (s.watch != WordWatch::Off) {
            size_t q = pos;
            while (q < end && IsWordByte(static_cast<unsigned char>(b[q]))) ++q;
            if (q == end) NEED_MORE(pos);
            WatchWord(s, b + pos, q - pos);
            s.fHasContent = true;
            pos = q;
            continue;
          }
        }
        if (!IsBlank(c)) s.fHasContent = true;
        ++pos;
        continue;
      }
      case LexState::LineComment: {
        const void* newline = memchr(b + pos, '\n', end - pos);
        if (newline == nullptr) {
          pos = end;
        } else {
          pos = static_cast<size_t>(static_cast<const char*>(newline) - b);
          s.state = LexState::Top;
        }
        continue;
      }
      case LexState::BlockComment: {
        while (pos < end && b[pos] != '*' && b[pos] != '/') ++pos;
        if (pos == end) break;
        if (pos + 1 >= end) NEED_MORE(pos);
        if (pos + 1 < end && b[pos] == '*' && b[pos + 1] == '/') {
          pos += 2;
          if (--s.commentDepth == 0) s.state = LexState::Top;
        } else if (pos + 1 < end && fNestedComments && b[pos] == '/' && b[pos + 1] == '*') {
          pos += 2;
          ++s.commentDepth;
        } else {
          ++pos;
        }
        continue;
      }
      case LexState::SingleQuote:
      case LexState::DoubleQuote:
      case LexState::Backtick:
      case LexState::Bracket: {
        char close = s.state == LexState::SingleQuote ? '\'' : s.state == LexState::DoubleQuote ? '"'
                     : s.state == LexState::Backtick  ? '`' : ']';
        bool fEscapes = s.fEscapes && (close == '\'' || close == '"');
        while (pos < end && b[pos] != close && !(fEscapes && b[pos] == '\\')) ++pos;
        if (pos == end) break;
        if (b[pos] == '\\') {
          if (pos + 1 >= end) NEED_MORE(pos);
          pos += 2;
          if (pos > end) pos = end;
          continue;
        }
        // A doubled closing character stands for itself (not in SQLite's brackets).
        bool fDoubles = close != ']' || s.dialect == SqlDialect::SqlServer;
        if (fDoubles && pos + 1 >= end) NEED_MORE(pos);
        if (fDoubles && pos + 1 < end && b[pos + 1] == close) {
          pos += 2;
          continue;
        }
        s.state = LexState::Top;
        ++pos;
        continue;
      }
      case LexState::DollarBody: {
        const void* dollar = memchr(b + pos, '$', end - pos);
        if (dollar == nullptr) {
          pos = end;
          break;
        }
        pos = static_cast<size_t>(static_cast<const char*>(dollar) - b);
        size_t tagLen = s.dollarTag.size();
        if (end - pos < tagLen) {
          NEED_MORE(pos);
          pos = end;
          break;
        }
        if (memcmp(b + pos, s.dollarTag.data(), tagLen) == 0) {
          s.state = LexState::Top;
          pos += tagLen;
        } else {
          ++pos;
        }
        continue;
      }
    }
  }
#undef NEED_MORE
  s.scanned = end;
  if (!fEndOfInput || s.start == end) return false;
  // End of input: the rest is a statement, unless it ends inside something never closed.
  const char* szOpen = OpenStateName(s);
  PieceKind kind = szOpen != nullptr ? PieceKind::Unterminated : s.fHasContent ? PieceKind::Statement : PieceKind::Skipped;
  s.state = LexState::Top;
  EmitPiece(s, piece, kind, end, end);
  piece.szOpen = szOpen;
  return true;
}

}  // namespace


void InitSplitter(StatementSplitter& splitter, SqlDialect dialect) {
  splitter = StatementSplitter{};
  splitter.dialect = dialect;
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
  return splitter.fHasContent || !SplitterAtTopLevel(splitter);
}

bool SplitterAtTopLevel(const StatementSplitter& splitter) {
  return splitter.state == LexState::Top || splitter.state == LexState::LineComment;
}

void DiscardPending(StatementSplitter& splitter) {
  splitter.buffer.clear();
  splitter.start = splitter.scanned = 0;
  splitter.state = LexState::Top;
  splitter.commentDepth = 0;
  splitter.dollarTag.clear();
  ResetStatement(splitter);
}

std::string_view StatementText(const SqlPiece& piece) {
  std::string_view text = piece.text;
  while (!text.empty() && IsBlank(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsBlank(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}
