// The command line: options before the connection string, parsed once into the record the session reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "display/listing.h"

// One -f FILE or -c TEXT of the command line.
struct ScriptInput {
  bool fFile;        // -f: text names a file ("-": standard input); -c: text is the statements or command
  std::string text;  // the file's name or the text to run
};

// One -v NAME=VALUE of the command line.
struct VariableSetting {
  std::string name;   // the variable's name
  std::string value;  // its value, as given
};

// Everything the command line says about one run.
struct SessionOptions {
  bool fBatch = false;                          // no banner, prompts, pauses, highlight or line editor
  bool fStopOnError = false;                    // the first failed statement ends the session
  ListingFormat format = ListingFormat::Table;  // how result sets are written
  bool fFormatGiven = false;                    // --csv, --tsv or --format: the start-up file's \format yields
  bool fAskPassword = false;                    // -p: the password is asked on the terminal
  std::string szConnStr;                        // the console's own copy of the connection string ("" if none)
  bool fMultiLine = false;                      // statement mode: statements end at the delimiter, not the line
  std::vector<ScriptInput> inputs;              // -f and -c, in the order given: run instead of standard input
  std::vector<VariableSetting> variables;       // -v and --set, in the order given
  bool fNoStartupFile = false;                  // -X: the start-up file is not run
};

// What the command line asks for.
enum class CommandLineAction {
  Run,      // connect and run the session
  Help,     // print the usage text and exit 0
  Version,  // print the version and exit 0
  Invalid,  // an unknown option: *szError says which; exit 2
  NoValue,  // an option that takes a value came last: *szError says which; exit 2
  BadVariable,  // -v without NAME=VALUE, or a name that is not one: *szError holds the argument; exit 2
};

// Parses argv into *options. Options come before the connection string, whose first argument that is not
// an option (or the one after "--") is taken; later arguments are ignored. Returns what to do.
CommandLineAction ParseCommandLine(int argc, char** argv, SessionOptions* options, std::string* szError);

// Reads a format's name (table, fit, csv, tsv, json or markdown) into *format; returns false for any other name.
bool ParseFormatName(std::string_view name, ListingFormat* format);

// The name of a format, as ParseFormatName reads it.
const char* FormatName(ListingFormat format);

// The usage text printed by --help.
std::string UsageText();
