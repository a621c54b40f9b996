// The terminal's line editor: editing, in-memory history and completion, through libedit.
#pragma once

#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/odbc_api.h"

// Sets up the editor for a session on lpDbc, whose catalog completion reads. Call once, after connecting.
void InitLineEditor(SQLHDBC lpDbc, const TextCharset& charset);

// Shows `prompt` and reads one edited line into `line`. Returns Line, End (Ctrl-D on an empty line) or
// Interrupted (Ctrl-C: whatever was typed is discarded).
InputResult EditLine(const char* prompt, std::string& line);

// Adds a line handed to the driver to the session's history (kept in memory only).
void RememberLine(const std::string& line);
