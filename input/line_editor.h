// The terminal's line editor: editing, the history and completion, through libedit.
#pragma once

#include <string>
#include <termios.h>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/connection.h"
#include "input/completion.h"
#include "input/history.h"
#include "input/input.h"

// The terminal's line editor: what it keeps between keys and between lines.
struct LineEditor {
  TextCharset charset = {false, false, "|", 1};  // the terminal's: keys decoded and candidates measured in it
  termios mode = {};                              // the terminal mode the editor set, restored after a stop
  bool fModeKnown = false;                        // mode holds a mode
  std::vector<std::string> matches;               // the completions being handed out
  Input* lpInput = nullptr;                       // standard input, the terminal the keys come from
  CompletionCatalog catalog;                      // what completion has read of the data source
  std::string keysAhead;                          // bytes the key reader hands out before reading the terminal
  size_t keysAheadAt = 0;                         // how many of them it has handed out
  bool fSearching = false;                        // a Ctrl-R (or Ctrl-S) search of the history is under way
  bool fMovedToEnd = false;                       // at Ctrl-C the cursor was sent past the line's last line
};

// Sets up `editor` for a session on `connection`, whose catalog completion reads, with keys in `charset`,
// and loads the history file into the editor's history. Call once, after connecting; the editor record
// must live as long as the editor is used.
void InitLineEditor(LineEditor& editor, Input& input, Connection& connection, const TextCharset& charset, HistoryFile& history);

// Shows `prompt` and reads one edited line into `line`. Returns Line, End (Ctrl-D on an empty line) or
// Interrupted (Ctrl-C: whatever was typed is discarded).
InputResult EditLine(const char* prompt, std::string& line);

// Drops what is left of a block pasted at the prompt: Ctrl-C stops it as it stops the statements it held.
void DiscardKeysAhead();

// Adds a line handed to the driver to the history and its file, unless it is not to be kept (IsLineKept).
void RememberLine(HistoryFile& history, const std::string& line);
