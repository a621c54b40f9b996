// The terminal's line editor: editing, the history and completion, through libedit.
#include "input/line_editor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <editline/readline.h>

#include "display/cell_text.h"
#include "input/completion.h"
#include "input/input.h"
#include "input/interrupt.h"

namespace {

// What ends a word for completion: blanks, operators, punctuation, and the dot of table.column.
constexpr char WORD_BREAKS[] = " \t\n\"'`@$><=;|&{(,)*+-/%.";

LineEditor* gEditor = nullptr;  // the session's editor: libedit's callbacks take no context

// Reads one byte of the terminal, or returns -1 at Ctrl-C or end of input. A stop and continue in between
// restores the editor's mode and shows the prompt and the line again.
int ReadKeyByte() {
  for (;;) {
    if (InterruptRequested()) return -1;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {WakeupDescriptor(), POLLIN, 0}};
    int ready = poll(fds, fds[1].fd >= 0 ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[1].fd >= 0 && (fds[1].revents & POLLIN) != 0) {
      Wakeups wakeups = DrainWakeups();
      // The editor learns the new width before the next key, so it wraps the line where the window does.
      if (wakeups.fResized) rl_resize_terminal();
      if (wakeups.fContinued && gEditor->fModeKnown) {
        tcsetattr(STDIN_FILENO, TCSADRAIN, &gEditor->mode);
        rl_forced_update_display();
      }
      continue;
    }
    if (fds[0].revents == 0) continue;
    unsigned char byte;
    int got = ReadTerminalByteNow(*gEditor->lpInput, &byte);
    if (got == 0) continue;  // gone since poll saw it (Ctrl-C empties the terminal's input)
    return got == 1 ? byte : -1;
  }
}

// Keys the key reader deals with itself.
constexpr int CTRL_E = 0x05;          // to the end of the line
constexpr int CTRL_H = 0x08;          // erases in a search as Backspace does
constexpr int CTRL_R = 0x12;          // searches the history backwards
constexpr int CTRL_S = 0x13;          // searches it forwards
constexpr int CTRL_V = 0x16;          // inserts the next key as it is
constexpr int CTRL_W = 0x17;          // takes a word into a search
constexpr int ESCAPE = 0x1b;          // starts the sequence of a cursor key, or a paste
constexpr int END_OF_SEARCH = 0x00;   // a key bound to nothing that moves or changes the line: it ends a search
constexpr char PASTE_START[] = "\x1b[200~";  // the terminal's bracket before pasted text
constexpr char PASTE_END[] = "\x1b[201~";    // and after it
constexpr int ESCAPE_WAIT_MS = 50;    // how long the rest of an escape sequence may take to come
constexpr size_t LONGEST_ESCAPE = 32; // longer sequences are handed on as they stand

// The next byte: one queued by the key reader, else one of the terminal.
int NextKeyByte() {
  std::string& queued = gEditor->keysAhead;
  if (gEditor->keysAheadAt < queued.size()) {
    int byte = static_cast<unsigned char>(queued[gEditor->keysAheadAt++]);
    if (gEditor->keysAheadAt == queued.size()) DiscardKeysAhead();
    return byte;
  }
  return ReadKeyByte();
}

// Puts keys before those queued, to be read next.
void QueueKeys(const std::string& keys) {
  gEditor->keysAhead.replace(0, gEditor->keysAheadAt, keys);
  gEditor->keysAheadAt = 0;
}

// Whether a byte comes within ESCAPE_WAIT_MS: the keys of one escape sequence come together, and a lone
// Escape key sends nothing after it.
bool ByteFollows() {
  if (gEditor->keysAheadAt < gEditor->keysAhead.size()) return true;
  pollfd fd = {STDIN_FILENO, POLLIN, 0};
  return poll(&fd, 1, ESCAPE_WAIT_MS) > 0;
}

// Reads the rest of an escape sequence whose ESC was read: ESC [ parameters final byte, ESC O final byte, or
// ESC and one key. Returns false at Ctrl-C or at the end of input.
bool ReadEscapeSequence(std::string& sequence) {
  sequence.assign(1, static_cast<char>(ESCAPE));
  while (sequence.size() < LONGEST_ESCAPE && ByteFollows()) {
    int byte = NextKeyByte();
    if (byte < 0) return false;
    sequence += static_cast<char>(byte);
    if (sequence.size() == 2) {
      if (byte != '[' && byte != 'O') return true;
    } else if (sequence[1] == 'O' || (byte >= 0x40 && byte <= 0x7e)) {
      return true;
    }
  }
  return true;
}

// Reads a pasted block up to the terminal's closing bracket and queues it as keys typed: each character
// inserted as it is (control characters quoted, so that no editor command runs), each line break as Enter,
// so that every line runs as if typed, and the rest after the last break is left on the next line. Returns
// false at Ctrl-C or at the end of input: the block is dropped.
bool QueuePaste() {
  std::string pasted;
  constexpr size_t endLength = sizeof PASTE_END - 1;
  while (pasted.size() < endLength || pasted.compare(pasted.size() - endLength, endLength, PASTE_END) != 0) {
    int byte = NextKeyByte();
    if (byte < 0) return false;
    pasted += static_cast<char>(byte);
  }
  pasted.resize(pasted.size() - endLength);
  std::string keys;
  for (size_t i = 0; i < pasted.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(pasted[i]);
    if (byte == '\r' || byte == '\n') {
      if (byte == '\r' && i + 1 < pasted.size() && pasted[i + 1] == '\n') ++i;
      keys += '\n';
      continue;
    }
    if (byte < 0x20 || byte == 0x7f) keys += static_cast<char>(CTRL_V);
    keys += static_cast<char>(byte);
  }
  QueueKeys(keys);
  return true;
}

// Whether a key typed during a history search goes on with the search; any other key ends it.
bool KeepsSearching(int byte) { return byte >= 0x20 || byte == CTRL_H || byte == CTRL_R || byte == CTRL_S || byte == CTRL_W; }

// One key, escape sequences seen whole: a paste is queued as keys typed, and a cursor key during a search
// first ends the search with a key that does nothing (the editor's search would take the sequence's bytes as
// text), then acts as it does outside it.
int ReadEditorByte() {
  // Ctrl-C: the cursor goes past the last line of the statement first, so that nothing of it is left
  // under the next prompt.
  if (InterruptRequested()) {
    if (gEditor->fMovedToEnd) return -1;
    gEditor->fMovedToEnd = true;
    return CTRL_E;
  }
  bool fQueued = gEditor->keysAheadAt < gEditor->keysAhead.size();
  int byte = NextKeyByte();
  if (byte < 0) return InterruptRequested() ? ReadEditorByte() : -1;
  if (fQueued) return byte;
  if (byte == ESCAPE) {
    std::string sequence;
    if (!ReadEscapeSequence(sequence)) return ReadEditorByte();
    if (sequence == PASTE_START) {
      if (!QueuePaste()) return ReadEditorByte();
      gEditor->fSearching = false;
      return ReadEditorByte();
    }
    if (gEditor->fSearching && sequence.size() > 1) {
      gEditor->fSearching = false;
      QueueKeys(sequence);
      return END_OF_SEARCH;
    }
    gEditor->fSearching = false;
    QueueKeys(sequence.substr(1));
    return ESCAPE;
  }
  if (byte == CTRL_R || byte == CTRL_S) {
    gEditor->fSearching = true;
  } else if (gEditor->fSearching && !KeepsSearching(byte)) {
    gEditor->fSearching = false;
  }
  return byte;
}

// The editor's key reader: one character a call, a multibyte one decoded whole, since the editor takes
// what this returns as a wide character.
int ReadKey(FILE*) {
  if (tcgetattr(STDIN_FILENO, &gEditor->mode) == 0) gEditor->fModeKnown = true;
  int byte = ReadEditorByte();
  // Enter ends the line: bracketed paste goes off now, while the editor still has the terminal, so that the
  // moment between the terminal given back and the statement run is no longer than without it.
  if (byte == '\r' || byte == '\n') SetBracketedPaste(false);
  if (byte < 0x80 || !gEditor->charset.utf8) return byte;
  mbstate_t state = {};
  char bytes[4] = {static_cast<char>(byte)};
  for (size_t have = 1; have <= 4;) {
    wchar_t wide;
    size_t used = mbrtowc(&wide, bytes, have, &state);
    if (used == static_cast<size_t>(-2) && have < 4) {
      int next = NextKeyByte();
      if (next < 0) return -1;
      bytes[have++] = static_cast<char>(next);
      state = mbstate_t{};
      continue;
    }
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) return '?';  // not UTF-8
    return static_cast<int>(wide);
  }
  return '?';
}

char* NextMatch(const char*, int state) {
  static size_t next = 0;
  if (state == 0) next = 0;
  return next < gEditor->matches.size() ? strdup(gEditor->matches[next++].c_str()) : nullptr;
}

// Bytes of the first `chars` characters of text: the editor counts its cursor in characters.
size_t BytesOfChars(const char* text, int chars) {
  if (!gEditor->charset.utf8) return strnlen(text, static_cast<size_t>(chars));
  size_t bytes = 0;
  for (int i = 0; i < chars && text[bytes] != '\0'; ++i) {
    do ++bytes;
    while ((static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80);
  }
  return bytes;
}

// Writes the candidates under the line in columns, down then across, aligned by display columns (the
// editor's own list counts bytes, which misaligns UTF-8 names), and shows the prompt and line again below.
void ListMatches(const std::vector<std::string>& matches) {
  std::vector<std::string> shown;
  size_t widest = 0;
  std::vector<int> widths;
  for (const std::string& match : matches) {
    std::string safe;
    AppendSafeText(gEditor->charset, safe, match.data(), match.size());
    widths.push_back(TextColumns(gEditor->charset, safe.data(), safe.size()));
    widest = std::max(widest, static_cast<size_t>(widths.back()));
    shown.push_back(std::move(safe));
  }
  winsize size = {};
  size_t screenColumns = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  size_t columnWidth = widest + 2;
  size_t perLine = std::max<size_t>(1, screenColumns / columnWidth);
  size_t lines = (shown.size() + perLine - 1) / perLine;
  // A long list is shown only when asked for, as the editor's own list does.
  if (matches.size() > static_cast<size_t>(rl_completion_query_items)) {
    std::string question = "\nDisplay all " + std::to_string(matches.size()) + " possibilities? (y or n) ";
    OutWrite(question.data(), question.size());
    OutFlush();
    int answer = ReadKeyByte();
    if (answer != 'y' && answer != 'Y' && answer != ' ') {
      OutWrite("\n", 1);
      OutFlush();
      rl_forced_update_display();
      return;
    }
  }
  std::string text = "\n";
  for (size_t line = 0; line < lines; ++line) {
    for (size_t at = line; at < shown.size(); at += lines) {
      text += shown[at];
      if (at + lines < shown.size()) text.append(columnWidth - static_cast<size_t>(widths[at]), ' ');
    }
    text += '\n';
  }
  OutWrite(text.data(), text.size());
  OutFlush();
  rl_forced_update_display();
}

char** CompleteWord(const char* text, int, int end) {
  rl_attempted_completion_over = 1;  // no file names in SQL
  std::string line = rl_line_buffer != nullptr ? rl_line_buffer : "";
  size_t cursor = BytesOfChars(line.c_str(), end);
  size_t wordLength = strlen(text);
  if (cursor < wordLength || line.compare(cursor - wordLength, wordLength, text) != 0) return nullptr;
  Completions completions = CompletionsAt(gEditor->catalog, line, cursor - wordLength, cursor);
  gEditor->matches = std::move(completions.texts);
  rl_completion_append_character = completions.fBlankAfter ? ' ' : '\0';
  if (gEditor->matches.empty()) return nullptr;
  if (gEditor->matches.size() > 1 && rl_completion_type == '?') {
    // The second Tab lists the candidates; the editor is handed the word as it stands, to change nothing.
    std::sort(gEditor->matches.begin(), gEditor->matches.end());
    ListMatches(gEditor->matches);
    rl_completion_append_character = '\0';
    char** unchanged = static_cast<char**>(calloc(3, sizeof(char*)));
    if (unchanged != nullptr) unchanged[0] = strdup(text);
    return unchanged;
  }
  return rl_completion_matches(text, NextMatch);
}

}  // namespace

void InitLineEditor(LineEditor& editor, Input& input, Connection& connection, const TextCharset& charset, HistoryFile& history) {
  gEditor = &editor;
  editor.lpInput = &input;
  editor.charset = charset;
  history.charset = charset;
  SetCompletionConnection(editor.catalog, &connection);
  rl_catch_signals = 0;  // Ctrl-C is the session's; the editor would send it to the whole process group
  rl_readline_name = "odbc-console";
  rl_getc_function = ReadKey;
  rl_attempted_completion_function = CompleteWord;
  rl_basic_word_break_characters = WORD_BREAKS;
  rl_initialize();  // once: a second call would empty the history
  using_history();
  stifle_history(static_cast<int>(HISTORY_ENTRIES_KEPT));
  for (const std::string& entry : OpenHistory(history, HistoryFilePath())) add_history(entry.c_str());
}

InputResult EditLine(const char* prompt, std::string& line) {
  if (gEditor->lpInput->fEnded) return InputResult::End;
  OutFlush();
  // A stop and continue while a statement ran: the prompt is not yet shown, so it is shown once. A window
  // resized meanwhile is measured now.
  if (DrainWakeups().fResized) rl_resize_terminal();
  gEditor->fSearching = false;
  gEditor->fMovedToEnd = false;
  // A block pasted while the editor reads comes bracketed, told from keys typed.
  SetBracketedPaste(true);
  char* edited = readline(prompt);
  // An interrupted read may still hand back what was typed: Ctrl-C discards it, and the rest of a paste. A
  // Ctrl-C that comes once the line is taken is the statement's, so the flag is read before anything else.
  bool fInterrupted = InterruptRequested();
  SetBracketedPaste(false);
  if (fInterrupted) {
    free(edited);
    DiscardKeysAhead();
    return InputResult::Interrupted;
  }
  if (edited == nullptr) {
    gEditor->lpInput->fEnded = true;
    return InputResult::End;
  }
  line = edited;
  free(edited);
  return InputResult::Line;
}

void DiscardKeysAhead() {
  if (gEditor == nullptr) return;
  gEditor->keysAhead.clear();
  gEditor->keysAheadAt = 0;
}

void RememberLine(HistoryFile& history, const std::string& line) {
  if (!IsLineKept(line)) return;
  add_history(line.c_str());
  AppendHistory(history, line);
}
