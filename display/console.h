// The console the session writes to: its character set and its window, in one record passed down.
#pragma once

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/odbc_api.h"
#include "display/terminal.h"

// The terminal as the console knows it; one for the session, made at start-up.
struct Console {
  TextCharset charset;  // how text is measured and shown, from the locale
  WindowSize window;    // the window's size as the pager last read it
  Output output;        // the output layer's state: standard output's buffer and how it has gone
  DiagnosticsSink diagnostics;  // where the ODBC layer's reports go: standard error, made safe in charset
};
