// The command line: options before the connection string, parsed once into the record the session reads.
#include "session/options.h"

#include <cstring>

CommandLineAction ParseCommandLine(int argc, char** argv, SessionOptions* options, std::string* szError) {
  *options = SessionOptions{};
  for (int iArg = 1; iArg < argc; ++iArg) {
    const char* arg = argv[iArg];
    if (strcmp(arg, "--") == 0) {
      if (iArg + 1 < argc) options->szConnStr = argv[iArg + 1];
      break;
    }
    if (arg[0] != '-') {
      options->szConnStr = arg;  // everything after the connection string is ignored
      break;
    }
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) return CommandLineAction::Help;
    if (strcmp(arg, "--version") == 0) return CommandLineAction::Version;
    if (strcmp(arg, "-b") == 0 || strcmp(arg, "--batch") == 0) {
      options->fBatch = true;
    } else if (strcmp(arg, "-e") == 0 || strcmp(arg, "--stop-on-error") == 0) {
      options->fStopOnError = true;
    } else if (strcmp(arg, "--csv") == 0 || strcmp(arg, "--tsv") == 0) {
      options->format = arg[2] == 'c' ? ListingFormat::Csv : ListingFormat::Tsv;
      options->fBatch = true;
    } else {
      *szError = arg;
      return CommandLineAction::Invalid;
    }
  }
  return CommandLineAction::Run;
}

const char* UsageText() {
  return "Usage: odbc-console [OPTION]... [CONNECTION-STRING]\n"
         "An interactive SQL console for ODBC data sources: one SQL statement per line.\n"
         "\n"
         "The connection string goes whole to the unixODBC driver manager; quote it in the shell.\n"
         "  odbc-console \"Driver=SQLite3;Database=/path/to/file.db\"\n"
         "  odbc-console \"DSN=shop;UID=ann;PWD=secret\"\n"
         "\n"
         "Options (before the connection string):\n"
         "  -b, --batch          no banner, prompts or pauses; exit status 1 if a statement failed\n"
         "  -e, --stop-on-error  end the session at the first statement that fails (exit status 1)\n"
         "      --csv            write result sets as CSV (RFC 4180, LF line ends); implies --batch\n"
         "      --tsv            write result sets as tab-separated values; implies --batch\n"
         "  -h, --help           show this text and exit\n"
         "      --version        show the version and exit\n"
         "\n"
         "At a pause: Enter shows the next page, Q (or q) stops the listing.\n"
         "At a terminal: arrow keys edit and recall lines, Tab completes, Ctrl-C cancels, Ctrl-D ends.\n"
         "Tab completes table names after FROM, JOIN, INTO, UPDATE and TABLE, column names in expressions\n"
         "and after name., keywords elsewhere; a second Tab lists the candidates.\n"
         "History: the last 1,000 statements typed at a terminal, in $XDG_STATE_HOME/odbc-console/history\n"
         "(~/.local/state/odbc-console/history); ODBC_CONSOLE_HISTFILE names another file, empty keeps none.\n"
         "A statement typed with a leading blank is not kept.\n"
         "\n"
         "Exit status: 0 after a normal end; 1 when writing the output failed, or with -b or -e when a\n"
         "statement failed; 2 for an unknown option; 130 after Ctrl-C with input from a script; 141 when\n"
         "the reader of the output has gone; 255 when the driver manager gave no environment handle;\n"
         "156 when memory ran out.\n"
         "\n"
         "See odbc-console(1) for more.\n";
}
