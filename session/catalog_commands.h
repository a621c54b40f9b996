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
// * or % for any characters; empty: the ones the data source shows by default) through SQLTables on lpStmt,
// allocated anew on lpDbc when a listing had to free it. Every function here reports its diagnostics and
// closes the cursor it opened.
StatementOutcome ListTables(Connection& connection, std::string_view pattern, TableKind kind,
                            const ListingStyle& style);

// Lists the schemas of the data source, or its catalogs when it has no schemas; says so when it has neither.
StatementOutcome ListSchemas(Connection& connection, const ListingStyle& style);

// Lists the procedures and functions whose name matches `pattern` (as for ListTables) through SQLProcedures.
StatementOutcome ListProcedures(Connection& connection, std::string_view pattern, const ListingStyle& style);

// Describes the table or view `name` (NAME, SCHEMA.NAME or CATALOG.SCHEMA.NAME; unquoted parts folded to
// the data source's identifier case, quoted parts taken as they are): its columns, then its primary key,
// indexes and foreign keys, each as a result of its own. A name that matches nothing is a failure.
StatementOutcome DescribeTable(Connection& connection, std::string_view name, const ListingStyle& style);

// Writes what the connection is: DBMS and driver with their versions, ODBC versions, database, user, server.
StatementOutcome ShowConnectionInfo(Connection& connection, const TextCharset& charset);
