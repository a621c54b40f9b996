// The command line: options before the connection string, parsed once into the record the session reads.
#include "session/options.h"

#include <cstring>

#include "session/variables.h"

namespace {

// Every format by its name.
struct NamedFormat {
  const char* szName;     // as typed after --format= and \format
  ListingFormat format;   // the format it names
};
constexpr NamedFormat FORMATS[] = {
    {"table", ListingFormat::Table}, {"fit", ListingFormat::Fit}, {"csv", ListingFormat::Csv}, {"tsv", ListingFormat::Tsv},
    {"json", ListingFormat::Json},   {"markdown", ListingFormat::Markdown}};

// Reads NAME=VALUE into a setting; false when there is no '=' or the name is not one.
bool ReadVariableSetting(const char* text, SessionOptions* options) {
  const char* equals = strchr(text, '=');
  if (equals == nullptr) return false;
  std::string name(text, static_cast<size_t>(equals - text));
  if (!IsVariableName(name)) return false;
  options->variables.push_back({name, equals + 1});
  return true;
}

}  // namespace

bool ParseFormatName(std::string_view name, ListingFormat* format) {
  for (const NamedFormat& named : FORMATS) {
    if (name == named.szName) {
      *format = named.format;
      return true;
    }
  }
  return false;
}

const char* FormatName(ListingFormat format) {
  for (const NamedFormat& named : FORMATS) {
    if (named.format == format) return named.szName;
  }
  return "table";
}

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
    } else if (strcmp(arg, "-p") == 0 || strcmp(arg, "--password") == 0) {
      options->fAskPassword = true;
    } else if (strcmp(arg, "-m") == 0 || strcmp(arg, "--multi-line") == 0) {
      options->fMultiLine = true;
    } else if (strcmp(arg, "-X") == 0 || strcmp(arg, "--no-rc") == 0) {
      options->fNoStartupFile = true;
    } else if (strcmp(arg, "-f") == 0 || strcmp(arg, "--file") == 0 || strcmp(arg, "-c") == 0 ||
               strcmp(arg, "--command") == 0 || strcmp(arg, "-v") == 0 || strcmp(arg, "--set") == 0) {
      if (iArg + 1 >= argc) {
        *szError = arg;
        return CommandLineAction::NoValue;
      }
      const char* value = argv[++iArg];
      if (arg[1] == 'v' || arg[2] == 's') {
        if (!ReadVariableSetting(value, options)) {
          *szError = value;
          return CommandLineAction::BadVariable;
        }
        continue;
      }
      options->inputs.push_back({arg[1] == 'f' || arg[2] == 'f', value});
      options->fBatch = true;
    } else if (strncmp(arg, "--file=", 7) == 0 || strncmp(arg, "--command=", 10) == 0) {
      bool fFile = arg[2] == 'f';
      options->inputs.push_back({fFile, arg + (fFile ? 7 : 10)});
      options->fBatch = true;
    } else if (strncmp(arg, "--set=", 6) == 0) {
      if (!ReadVariableSetting(arg + 6, options)) {
        *szError = arg + 6;
        return CommandLineAction::BadVariable;
      }
    } else if (strcmp(arg, "--csv") == 0 || strcmp(arg, "--tsv") == 0) {
      options->format = arg[2] == 'c' ? ListingFormat::Csv : ListingFormat::Tsv;
      options->fFormatGiven = true;
      options->fBatch = true;
    } else if (strncmp(arg, "--format=", 9) == 0) {
      if (!ParseFormatName(arg + 9, &options->format)) {
        *szError = arg;
        return CommandLineAction::Invalid;
      }
      options->fFormatGiven = true;
      // CSV and TSV are data for a program, as with --csv and --tsv.
      if (!IsTableFormat(options->format)) options->fBatch = true;
    } else {
      *szError = arg;
      return CommandLineAction::Invalid;
    }
  }
  return CommandLineAction::Run;
}

namespace {

// --help's first half: what the console is, how it is started, and its options.
constexpr char USAGE_OPTIONS[] =
         "Usage: odbc-console [OPTION]... [CONNECTION-STRING]\n"
         "An interactive SQL console for ODBC data sources: one SQL statement per line, or ended by ';'\n"
         "with -m and in files. Every result of a statement is shown in turn: each result set as a table of\n"
         "its own, each count on its line; a lost connection is made again at a terminal.\n"
         "\n"
         "The connection string goes whole to the unixODBC driver manager; quote it in the shell.\n"
         "  odbc-console \"Driver=SQLite3;Database=/path/to/file.db\"\n"
         "  odbc-console -p \"DSN=shop;UID=ann\"\n"
         "A password is best kept in the DSN (odbc.ini readable by its owner only) or asked with -p: on the\n"
         "command line other users could see it until the console masks it.\n"
         "\n"
         "Options (before the connection string):\n"
         "  -b, --batch          no banner, prompts or pauses; exit status 1 if a statement failed\n"
         "  -e, --stop-on-error  end the session at the first statement that fails (exit status 1)\n"
         "  -p, --password       ask for the password on the terminal and add it to the connection string\n"
         "      --csv            write result sets as CSV (RFC 4180, LF line ends); implies --batch\n"
         "      --tsv            write result sets as tab-separated values; implies --batch\n"
         "      --format=NAME    how result sets are written: table (the default: columns as wide as their\n"
         "                       declared size), fit (each column as wide as its data), csv, tsv,\n"
         "                       json (JSON Lines: an object a row), markdown; all but table and fit imply -b\n"
         "  -m, --multi-line     statement mode: a statement ends at ';' outside quotes, comments and\n"
         "                       bodies, and may span lines; several may share a line\n"
         "  -f, --file=FILE      run the statements of FILE as -m splits them, with the behaviour of -b;\n"
         "                       '-' is standard input; errors begin with FILE:LINE:\n"
         "  -c, --command=TEXT   run TEXT (statements as -m splits them, or a command), with the behaviour\n"
         "                       of -b; -f and -c may be given several times and run in order, then the\n"
         "                       session ends\n"
         "  -v, --set NAME=VALUE set a variable: :NAME, :'NAME' (a literal) and :\"NAME\" (a quoted name)\n"
         "                       stand for it in statements of files, -c and -m\n"
         "  -X, --no-rc          do not run the start-up file ($XDG_CONFIG_HOME/odbc-console/rc,\n"
         "                       ~/.config/odbc-console/rc, or the file ODBC_CONSOLE_RC names)\n"
         "  -h, --help           show this text and exit\n"
         "      --version        show the version and exit\n"
         "\n";

// --help's second half: the console's commands, the terminal, and the exit status.
constexpr char USAGE_COMMANDS[] =
         "Commands (a line whose first non-blank character is a backslash; never sent to the driver):\n"
         "  \\d [PATTERN]     describe tables and views: columns, indexes, foreign keys, references, checks\n"
         "  \\dt[S] [PATTERN] list tables; PATTERN is [SCHEMA.]NAME, with * or % for any characters;\n"
         "                   S: system tables too\n"
         "  \\dv[S] [PATTERN] list views\n"
         "  \\dn[S]           list schemas (catalogs where the data source has no schemas)\n"
         "  \\df[S] [PATTERN] list functions and procedures with result and argument types\n"
         "  \\conninfo        show the DBMS, driver, ODBC versions, database, user and server, and the\n"
         "                   named connections\n"
         "  \\c [STRING|DSN]  connect the session anew; on failure the old connection stays (on PostgreSQL\n"
         "                   \\c DBNAME switches the database); alone, connects again\n"
         "  \\connect NAME STRING\n"
         "                   open a named connection (\\connect DSN: named after a known DSN; on\n"
         "                   PostgreSQL \\connect DBNAME is \\c DBNAME, as in pg_dump's files)\n"
         "  \\disconnect NAME close a named connection\n"
         "  \\timing [on|off] show \"Time: ... ms\" after each statement\n"
         "  \\x [on|off|auto] expanded display: each row as a record of name | value lines\n"
         "  \\format [NAME]  write result sets as table, fit, csv, tsv, json or markdown from now on\n"
         "  \\set NAME VALUE  set a variable (:NAME in statements); \\set alone lists them\n"
         "  \\unset NAME      remove a variable\n"
         "  \\echo TEXT       write TEXT, :NAME replaced\n"
         "  \\o [FILE]        send results to FILE (\\o |COMMAND: to a command); alone: standard output\n"
         "  \\i FILE          run the SQL statements of FILE, then come back\n"
         "  \\copy TABLE [(COL, ...)] from FILE [csv|tsv] [header|noheader]\n"
         "                   load a CSV or TSV file into a table (all or nothing), e.g. \\copy orders from orders.csv\n"
         "  \\copy TABLE|(QUERY) to FILE [csv|tsv]\n"
         "                   write what --csv would, e.g. \\copy (select * from orders where id > 9) to new.csv\n"
         "  \\copy TABLE|(QUERY) to [NAME]:TABLE [create]\n"
         "                   stream rows into a table of connection NAME (create: make the table first),\n"
         "                   e.g. \\copy orders to pg:orders create\n"
         "  \\restrict KEY    run no other command until \\unrestrict KEY (as pg_dump's files use it)\n"
         "  \\e               edit the statement being typed, or the last one, in $VISUAL or $EDITOR; run it\n"
         "  \\watch [SECONDS] run the last statement again every SECONDS (2) until Ctrl-C\n"
         "  \\q               end the session (at a terminal also: quit, exit)\n"
         "  \\?               list the commands\n"
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
         "statement failed; 2 for an unknown option, -p without a terminal, or a file that cannot be read;\n"
         "130 after Ctrl-C with input from a script; 141 when the reader of the output has gone; 255 when the\n"
         "driver manager gave no environment handle; 156 when memory ran out.\n"
         "\n"
         "See odbc-console(1) for more.\n";

}  // namespace

std::string UsageText() { return std::string(USAGE_OPTIONS) + USAGE_COMMANDS; }
