// \e and \watch: a statement edited in the user's editor, and a statement run again and again.
#pragma once

#include <string_view>

#include "session/session.h"

// \e: opens the statement being typed, or else the last one typed, in $VISUAL, $EDITOR or vi; what the
// editor saves comes back at the prompt as if typed there, and runs.
StatementOutcome EditCommand(Session& session, std::string_view argument);

// \watch [SECONDS]: runs the last statement typed again every SECONDS (2 when not given) until Ctrl-C or a
// failure, each run headed by the time.
StatementOutcome WatchCommand(Session& session, std::string_view argument);
