// The history file: the statements typed at a terminal, kept across sessions, one escaped entry a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "display/cell_text.h"

// Entries the file keeps; older ones are dropped when it is trimmed.
constexpr size_t HISTORY_ENTRIES_KEPT = 1000;

// The history file of one session.
struct HistoryFile {
  std::string path;     // the file; empty when no history is kept
  size_t cEntries = 0;  // entries in the file: those read at start and those appended since
  bool fWarned = false;  // a failure was reported: the file is left alone from then on
  TextCharset charset = {false, false, "|", 1};  // the terminal's, in which a warning shows the file's name
};

// Where the history is kept: $ODBC_CONSOLE_HISTFILE when set (empty: nowhere), else
// $XDG_STATE_HOME/odbc-console/history, else ~/.local/state/odbc-console/history. "" means none.
std::string HistoryFilePath();

// Opens the history at `path` and returns its last HISTORY_ENTRIES_KEPT entries, oldest first, reading at
// most the file's last 32 MiB. A file that does not exist yet is no history; one that cannot be read (or a
// directory) gives one warning on stderr and none; a device, FIFO or socket is never read, only written to.
// A last line with no newline (a write cut short) is no entry. A file with more lines is trimmed.
std::vector<std::string> OpenHistory(HistoryFile& history, const std::string& path);

// Whether a typed line goes into the history: not when it begins with a blank (the user's way of keeping
// a statement out), and never a line that may carry a password (a connection string, a \connect).
bool IsLineKept(std::string_view line);

// Appends an entry to the file (created with mode 0600, its directory 0700) in one write, on a line of its
// own even after a line cut short, and now and then trims the file to its last HISTORY_ENTRIES_KEPT entries.
// Only a regular file is trimmed, in place: through a link the file it names, keeping its mode and owner.
// A failure gives one warning and no more writes.
void AppendHistory(HistoryFile& history, const std::string& entry);

// An entry as one line of the file: backslash and line breaks escaped, so a multi-line statement stays one
// entry. DecodeHistoryLine undoes it.
std::string EncodeHistoryEntry(const std::string& entry);
std::string DecodeHistoryLine(const std::string& line);
