// Known faults of particular ODBC drivers, recognised by the name the driver reports for itself.
#pragma once

#include <sql.h>

// Whether the driver named szDriverName (as SQLGetInfo(SQL_DRIVER_NAME) reports it) is known to crash when
// SQLCancel is called from another thread while a call on the statement runs.
bool ConcurrentCancelCrashes(const char* szDriverName);

// The same for the driver behind the connection lpDbc; a driver whose name cannot be read is trusted.
bool ConcurrentCancelCrashes(SQLHDBC lpDbc);

// Whether the driver behind lpDbc writes the string attributes of SQLColAttribute past their buffer, so
// that only SQLDescribeCol may be asked for a column's name.
bool StringAttributesOverrun(SQLHDBC lpDbc);
