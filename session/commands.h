// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#pragma once

#include <string_view>

#include "session/session.h"

// True when the line's first non-blank character is a backslash.
bool IsConsoleCommand(std::string_view line);

// Runs a console command line and returns how it went, as a statement's outcome: an unknown command is
// reported and Failed. \q sets the session's fQuit; \i pushes its file on the session's line sources.
StatementOutcome RunConsoleCommand(Session& session, std::string_view line);

// True for a line that is exactly "quit" or "exit" (blanks around it aside): they end a session at a terminal.
bool IsQuitWord(std::string_view line);

// Ends \o: what is pending is written, the file closed or the command waited for, and results go to
// standard output again with the listing's paging and highlight as they were.
void EndOutputRedirect(Session& session);
