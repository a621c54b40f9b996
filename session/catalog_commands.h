// The console's commands that read the data source's catalog and connection: tables, views, schemas,
// procedures, one table's description, and what the connection is.
#pragma once

#include <string_view>

#include "display/listing.h"
#include "odbc/connection.h"
#include "session/statement.h"

// The kind of object a table listing shows.
enum class TableKind {
  Table,  // base tables ("TABLE")
  View,   // views ("VIEW")
};

// Lists the tables or views whose name matches `pattern` (NAME, SCHEMA.NAME or CATALOG.SCHEMA.NAME, with
// * or % for any characters) on lpStmt, allocated anew on lpDbc when a listing had to free it. On
// PostgreSQL, MariaDB/MySQL and SQLite (by `dialect`) from the source's own catalog: only what the search
// path or the current database shows unless the pattern names a schema, system tables only with fSystem
// or a pattern, sorted by schema and name; elsewhere through SQLTables. Every function here reports its diagnostics and
// closes the cursor it opened; every listing is fitted in a table format.
StatementOutcome ListTables(Connection& connection, std::string_view pattern, TableKind kind, SqlDialect dialect,
                            bool fSystem, const ListingStyle& style);

// Lists the schemas of the data source, or its catalogs when it has no schemas (the system's only with
// fSystem on PostgreSQL and MariaDB/MySQL); says so when it has neither.
StatementOutcome ListSchemas(Connection& connection, SqlDialect dialect, bool fSystem, const ListingStyle& style);

// Lists the procedures and functions whose name matches `pattern`, chosen as ListTables chooses tables: on
// PostgreSQL and MariaDB/MySQL with their result and argument types, elsewhere through SQLProcedures.
StatementOutcome ListProcedures(Connection& connection, std::string_view pattern, SqlDialect dialect, bool fSystem,
                                const ListingStyle& style);

// Describes the table or view `name` (NAME, SCHEMA.NAME or CATALOG.SCHEMA.NAME; unquoted parts folded to
// the data source's identifier case, quoted parts taken as they are; with * or % every table and view that
// matches): its columns, then its indexes, foreign keys, the tables that reference it, its checks and a
// view's definition, each as a result of its own and left out when empty. On SQLite, PostgreSQL and
// MariaDB/MySQL (by `dialect`) they come from the source's own catalog, elsewhere from ODBC's catalog
// calls. A name that matches nothing is a failure.
StatementOutcome DescribeTable(Connection& connection, std::string_view name, SqlDialect dialect,
                               const ListingStyle& style);

// Writes what the connection is: DBMS and driver with their versions, ODBC versions, database, user, server.
StatementOutcome ShowConnectionInfo(Connection& connection, const TextCharset& charset);
