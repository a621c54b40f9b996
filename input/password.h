// The password kept out of sight: masked in the process's arguments, asked on the terminal with -p.
#pragma once

#include <initializer_list>
#include <string>

// Overwrites with '*' the value of every PWD or PASSWORD attribute (any case, blanks, tabs or line breaks
// around its name or before its value, braced or not) in the arguments argv[1, argc), so that ps and
// /proc/PID/cmdline no longer show it. The arguments must have been copied before: the connection string
// is read from the copy.
void MaskPasswordArguments(int argc, char** argv);

// Asks "Password: " on the controlling terminal with echo off and reads one line into password. The
// terminal's mode is restored before any signal takes effect: Ctrl-C ends the process as before the
// session is ready, and a stop (Ctrl-Z) asks again once the process continues. Returns false when there
// is no controlling terminal.
bool AskPassword(std::string& password);

// Returns connStr without its PWD and PASSWORD attributes, with PWD={password} added, every '}' doubled.
std::string WithPassword(const std::string& connStr, const std::string& password);

// Returns connStr without its attributes named in `replaced` (any case), with szKeyword={value} added, every
// '}' doubled: a connection string naming another database, server or password.
std::string WithAttribute(const std::string& connStr, std::initializer_list<const char*> replaced, const char* szKeyword,
                          const std::string& value);

// Whether connStr has an attribute with a value whose name is one of `names` (any case).
bool HasAttribute(const std::string& connStr, std::initializer_list<const char*> names);
