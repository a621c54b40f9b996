// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#pragma once

#include <chrono>
#include <string_view>

#include "session/session.h"

// True when the line's first non-blank character is a backslash.
bool IsConsoleCommand(std::string_view line);

// Runs a console command line. An unknown command is reported and counts as a failed statement.
RunStep RunConsoleCommand(Session& session, std::string_view line);

// True for a line that is exactly "quit" or "exit" (blanks around it aside): they end a session at a terminal.
bool IsQuitWord(std::string_view line);

// Writes "Time: 12.345 ms", the wall time since `start`: on standard output beside a table, on standard
// error beside CSV or TSV, where it would be taken for data.
void WriteElapsedTime(const Session& session, std::chrono::steady_clock::time_point start);
