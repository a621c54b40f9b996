// Tab completion: SQL keywords and the names of the data source's tables, views and columns, by context.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "odbc/connection.h"

// A table or view as the catalog spells it.
struct CatalogTable {
  std::string qualifier;  // its schema (or catalog where the source has no schemas)
  std::string name;       // its name
};

// What completion knows of the data source; read when a Tab first needs it, dropped when the catalog changes.
struct CompletionCatalog {
  Connection* lpConnection = nullptr;      // the session's connection, which holds completion's statement handle
  unsigned generation = 0;                 // the connection's generation what is below was read in
  bool fInfoRead = false;                  // the source's rules below were read
  char quote = '"';                        // the identifier quote character; 0 when there is none
  SQLUSMALLINT identifierCase = SQL_IC_MIXED;  // how the source folds a name that is not quoted
  std::string escape;                      // the escape of _ and % in catalog patterns; empty when none
  bool fSchemas = false;                   // names are qualified by schema (else by catalog, or not at all)
  bool fCatalogs = false;                  // names are qualified by catalog (a server of many databases)
  std::string catalog;                     // the current catalog that catalog calls are limited to, or ""
  std::vector<std::string> searchPath;     // the schemas whose tables come unqualified; empty: all
  bool fTablesRead = false;                // tables holds the current schema's tables and views
  std::vector<CatalogTable> tables;        // tables and views of the current schemas or catalog
  std::vector<std::string> qualifiers;     // names of the schemas, offered where a table may come
  std::map<std::string, std::vector<CatalogTable>> tablesOf;       // tables of another schema, by its name
  std::map<std::string, std::vector<std::string>> columnsOf;      // columns by qualifier + '.' + table
  bool fAllColumnsRead = false;            // allColumns holds the columns of the current schemas
  std::vector<std::string> allColumns;     // every column name of the current schemas, sorted, each once
  bool fCancelled = false;                 // Ctrl-C, or a lock held elsewhere, stopped a catalog read this Tab
};

// Sets the connection whose catalog is read, through the connection's completion statement handle, when a
// Tab needs it; forgets what was read before. After a reconnect (a new generation of the connection) what
// was read is forgotten too.
void SetCompletionConnection(CompletionCatalog& known, Connection* lpConnection);

// What a Tab completes to: texts that each replace the word typed, and whether a blank follows a single one.
struct Completions {
  std::vector<std::string> texts;  // each once, the best first
  bool fBlankAfter = true;         // false after a qualifier ("schema.") that a name follows
};

// Returns the completions of the word line[wordStart, cursor): after FROM, JOIN, INTO, UPDATE and TABLE the
// tables and views of the current schema (or catalog); in an expression after SELECT, WHERE, ON, SET, BY and
// HAVING the columns of the tables the statement names, then those of the current schema; after `name.` the
// columns of that table or alias and the tables of that schema; elsewhere keywords, in the case typed.
// Names that need quoting come inside the source's quote character, closing quote included. Ctrl-C during a
// catalog read cancels it: the result is then empty, and the interrupt is cleared so the line is kept.
Completions CompletionsAt(CompletionCatalog& known, const std::string& line, size_t wordStart, size_t cursor);

// Tells completion that a statement ran: one that may change the catalog (CREATE, ALTER, DROP, RENAME, USE,
// SET search_path) drops the names read so far, so the next Tab reads them again.
void NoteStatementForCompletion(CompletionCatalog& known, std::string_view statement);
