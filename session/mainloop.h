// The one prompt loop: lines from the top line source, split into statements, dispatched, and the step after.
#pragma once

#include "session/session.h"

// Reads and runs lines from the session's line sources, the last one first, until they end, a call the
// session cannot go on without fails, a failure with --stop-on-error, \q, Ctrl-C in a script, or a reader
// of standard output that has gone.
void RunMainLoop(Session& session);

// True while the start-up file (or a file it runs) is read: its failures are said and nothing more.
bool InStartupFile(const Session& session);

// The pager's reply at a pause: reads one line of standard input. An empty line or one that begins with Q
// or q is a reply; any other line lets the listing go on and is kept, whole, as the next line of input: a
// statement typed or pasted at a pause runs after the listing, never lost.
InputResult ReadPauseReply(void* session, std::string& reply);
