// What the catalog commands share: the source's naming, names as typed, catalog call arguments, the
// listing of one catalog result, and the text of SQL literals and titles.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "display/cell_text.h"
#include "display/listing.h"
#include "odbc/connection.h"

// How the data source names things, read from SQLGetInfo for each command (the driver manager caches it).
struct SourceNaming {
  SQLUSMALLINT identifierCase = SQL_IC_MIXED;  // how unquoted identifiers are stored: SQL_IC_UPPER, _LOWER, ...
  char quote = '"';                            // the identifier quote character; '\0' when there is none
  std::string szEscape;                        // escapes _ and % in a search pattern; empty when there is none
  bool fSchemas = false;                       // the data source has schemas
  bool fCatalogs = false;                      // the data source has catalogs (databases)
};

// One part of a dotted name as typed.
struct NamePart {
  std::string szText;  // the part, quotes removed
  bool fQuoted;        // it was quoted: taken as it is, no wildcard, no case folding
};

// The arguments of a catalog call: each is null (not given) or a text.
struct CatalogTarget {
  std::string szCatalog;  // the catalog, as the call takes it
  std::string szSchema;   // the schema
  std::string szName;     // the table or procedure
  bool fCatalog = false;  // szCatalog is given
  bool fSchema = false;   // szSchema is given
  bool fName = false;     // szName is given
};

// A catalog call or query made on the statement it is given, returning its code.
using CatalogCall = std::function<SQLRETURN(SQLHSTMT)>;

// The statement for the next catalog call. MDBTools keeps the last result's columns after SQL_CLOSE, so
// that a second catalog call on the same statement describes the first's columns: there each call gets a
// statement of its own.
bool CatalogStatement(Connection& connection);

// The naming rules of the profile read at connect.
SourceNaming ReadSourceNaming(const Connection& connection);

// Splits a dotted name into its parts; a part in the source's quote characters may hold dots and blanks,
// and a doubled quote inside stands for one. Returns false, with the error reported, for a name that is
// empty, has an empty part, an unclosed quote, or more than three parts.
bool SplitName(const TextCharset& charset, std::string_view text, const SourceNaming& naming, std::vector<NamePart>* parts);

// A part as the catalog stores it: an unquoted part in the source's identifier case.
std::string StoredName(const NamePart& part, const SourceNaming& naming);

// A name as a search pattern that matches only itself: _ and % escaped where the source can escape them.
std::string LiteralPattern(const std::string& name, const SourceNaming& naming);

// Places the parts of a name into a catalog call's arguments: NAME; SCHEMA.NAME, or CATALOG.NAME where the
// source has catalogs and no schemas; CATALOG.SCHEMA.NAME. The catalog is never a pattern.
CatalogTarget TargetOf(const std::vector<NamePart>& parts, const SourceNaming& naming, bool fPattern);

// A name without a catalog means the current one where the source has catalogs and no schemas (as in
// MariaDB, whose catalogs are its databases): the driver would otherwise search every database.
void UseCurrentCatalog(SQLHDBC lpDbc, const SourceNaming& naming, CatalogTarget* target);

// A catalog call's text argument: null when not given.
SQLCHAR* Argument(std::string& text, bool fGiven);

// Runs one catalog call on lpStmt (Ctrl-C cancels it) and lists the chosen columns of its result.
StatementOutcome ListCatalogResult(Connection& connection, const CatalogCall& call, const char* szCallText,
                                   const std::vector<ChosenColumn>& chosen, const ListingStyle& style);

// Whether the driver offers the ODBC function `function` (SQL_API_...).
bool DriverHasFunction(SQLHDBC lpDbc, SQLUSMALLINT function);

// A text as an SQL string literal of the dialect: quotes doubled, and on MySQL and MariaDB backslashes too.
std::string SqlLiteral(const std::string& text, SqlDialect dialect);

// A column title in the source's quote characters.
std::string Title(const char* title, const SourceNaming& naming);
