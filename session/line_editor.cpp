// The terminal's line editor: editing, the history and completion, through libedit.
#include "session/line_editor.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <editline/readline.h>

#include "display/cell_text.h"
#include "session/completion.h"
#include "session/interrupt.h"

namespace {

// What ends a word for completion: blanks, operators, punctuation, and the dot of table.column.
constexpr char WORD_BREAKS[] = " \t\n\"'`@$><=;|&{(,)*+-/%.";

termios gEditorMode;               // the terminal mode the editor set, restored after a stop
bool gEditorModeKnown = false;     // gEditorMode holds a mode
std::vector<std::string> gMatches;  // the completions being handed out

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
      if (DrainWakeups() && gEditorModeKnown) {
        tcsetattr(STDIN_FILENO, TCSADRAIN, &gEditorMode);
        rl_forced_update_display();
      }
      continue;
    }
    if (fds[0].revents == 0) continue;
    unsigned char byte;
    ssize_t count = read(STDIN_FILENO, &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    return count == 1 ? byte : -1;
  }
}

// The editor's key reader: one character a call, a multibyte one decoded whole, since the editor takes
// what this returns as a wide character.
int ReadKey(FILE*) {
  if (tcgetattr(STDIN_FILENO, &gEditorMode) == 0) gEditorModeKnown = true;
  int byte = ReadKeyByte();
  if (byte < 0x80 || !gCharset.utf8) return byte;
  mbstate_t state = {};
  char bytes[4] = {static_cast<char>(byte)};
  for (size_t have = 1; have <= 4;) {
    wchar_t wide;
    size_t used = mbrtowc(&wide, bytes, have, &state);
    if (used == static_cast<size_t>(-2) && have < 4) {
      int next = ReadKeyByte();
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
  return next < gMatches.size() ? strdup(gMatches[next++].c_str()) : nullptr;
}

char** CompleteWord(const char* text, int, int) {
  rl_attempted_completion_over = 1;  // no file names in SQL
  gMatches = CompletionsOf(text);
  return rl_completion_matches(text, NextMatch);
}

}  // namespace

void InitLineEditor(SQLHDBC lpDbc, HistoryFile& history) {
  SetCompletionConnection(lpDbc);
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
  if (InputEnded()) return InputResult::End;
  OutFlush();
  char* edited = readline(prompt);
  // An interrupted read may still hand back what was typed: Ctrl-C discards it.
  if (InterruptRequested()) {
    free(edited);
    return InputResult::Interrupted;
  }
  if (edited == nullptr) {
    EndInput();
    return InputResult::End;
  }
  line = edited;
  free(edited);
  return InputResult::Line;
}

void RememberLine(HistoryFile& history, const std::string& line) {
  if (!IsLineKept(line)) return;
  add_history(line.c_str());
  AppendHistory(history, line);
}
