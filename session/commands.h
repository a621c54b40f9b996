// The console's own commands: lines that begin with a backslash, run by the console and never sent to the driver.
#pragma once

#include <string_view>

#include "session/session.h"

// True when the line's first non-blank character is a backslash.
bool IsConsoleCommand(std::string_view line);

// Runs a console command line. An unknown command is reported and counts as a failed statement.
RunStep RunConsoleCommand(Session& session, std::string_view line);
