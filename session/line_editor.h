// The terminal's line editor: editing, the history and completion, through libedit.
#pragma once

#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/connection.h"
#include "session/history.h"

// Sets up the editor for a session on `connection`, whose catalog completion reads, with keys in `charset`,
// and loads the history file into the editor's history. Call once, after connecting.
void InitLineEditor(Connection& connection, const TextCharset& charset, HistoryFile& history);

// Shows `prompt` and reads one edited line into `line`. Returns Line, End (Ctrl-D on an empty line) or
// Interrupted (Ctrl-C: whatever was typed is discarded).
InputResult EditLine(const char* prompt, std::string& line);

// Adds a line handed to the driver to the history and its file, unless it is not to be kept (IsLineKept).
void RememberLine(HistoryFile& history, const std::string& line);
