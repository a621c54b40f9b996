// The data source's profile: what the console must know of the DBMS and its driver, read once a connection.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

// The SQL family whose quoting, comment and block rules statement text follows.
enum class SqlDialect {
  Generic,     // '...', "...", -- and /* */ only
  PostgreSql,  // also $tag$ bodies, E'...' strings, nested /* */, BEGIN ATOMIC ... END, ( ) around delimiters
  MySql,       // also backslash escapes, `...`, # comments, /*! code */, DELIMITER lines (MySQL and MariaDB)
  Sqlite,      // also [...] and `...` identifiers, CREATE TRIGGER ... BEGIN ... END
  SqlServer,   // also [...] identifiers, nested /* */
  Virtuoso,    // also backslash escapes, { ... } procedure bodies
};

// The first column of the first row `szQuery` gives, as text, on a statement of its own; "" when it cannot be
// read (nothing is reported).
std::string FirstValueOf(SQLHDBC lpDbc, const char* szQuery);

// The dialect of a data source from its SQL_DBMS_NAME text; anything unknown (or null) is Generic.
SqlDialect DialectOfDbms(const char* szDbmsName);

// The data source behind a connection, as SQLGetInfo and the table of known driver faults describe it.
struct DataSourceProfile {
  std::string dbmsName;                        // SQL_DBMS_NAME, e.g. "PostgreSQL"
  std::string dbmsVersion;                     // SQL_DBMS_VER
  std::string driverName;                      // SQL_DRIVER_NAME, the driver's file name
  std::string driverVersion;                   // SQL_DRIVER_VER
  SqlDialect dialect = SqlDialect::Generic;    // how statement text is split
  bool fNoBackslashEscapes = false;            // MySQL family: the server's sql_mode reads a backslash as itself
  SQLUSMALLINT identifierCase = SQL_IC_MIXED;  // how unquoted identifiers are stored: SQL_IC_UPPER, _LOWER, ...
  char quote = '"';                            // the identifier quote character; '\0' when there is none
  std::string searchEscape;                    // escapes _ and % in a catalog pattern; empty when there is none
  bool fSchemas = false;                       // names are qualified by schema
  bool fCatalogs = false;                      // names are qualified by catalog (a server of many databases)
  bool fGetDataOnBound = false;                // SQLGetData reads a bound column again (SQL_GD_BOUND)
  bool fSizesHold = false;                     // every value fits its column's display size (MySQL, MariaDB)
  bool fBinaryNumbers = false;                 // numbers may be fetched in binary: the console writes them
                                               // byte for byte as the driver would (MySQL, MariaDB)
  bool fConcurrentCancelCrashes = false;       // SQLCancel from the watcher thread during a call crashes the driver
  bool fMoreResultsAfterCount = true;          // SQLMoreResults may be called after a result without columns
  bool fLabelTitles = true;                    // titles may be read as labels (SQL_DESC_LABEL) safely
  bool fParameterArrays = true;                // arrays of parameter sets may be tried (SQL_ATTR_PARAMSET_SIZE)
  bool fBigintText = true;                     // text for a BIGINT parameter declared as such arrives whole
  size_t cbMaxStatement = 0x7fffffff;          // the longest statement text the source takes, in bytes
  SQLULEN rowsetRows = 100;                    // the most rows a rowset fetch may bring
  bool fStaleColumnsAfterClose = false;        // a closed statement keeps its result's columns (MDBTools)
  std::string connectTimeoutKey;               // the connection-string keyword that bounds a connect's wait
                                               // for the server's first answer (MariaDB's CONN_TIMEOUT)
};

// Reads the profile of the data source connected on lpDbc, whose completed connection string (as the
// driver returned it) is `completedString`. Information the driver does not give keeps the generic default.
DataSourceProfile ReadProfile(SQLHDBC lpDbc, const char* completedString);

// An identifier between the data source's quote characters, each closing quote inside doubled; as it is
// when the source has none.
std::string QuotedName(const DataSourceProfile& profile, const std::string& name);
