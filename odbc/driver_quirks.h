// Known faults of particular ODBC drivers, recognised by the name the driver reports for itself.
#pragma once

// One driver's known faults.
struct DriverQuirks {
  const char* szNamePrefix;          // the start of the driver's reported file name, compared regardless of case
  bool fConcurrentCancelCrashes;     // SQLCancel from a second thread during a call on the statement crashes it
  bool fMoreResultsCrashAfterCount;  // SQLMoreResults after a result without columns may crash it
  bool fStringAttributesOverrun;     // SQLColAttribute writes string attributes past the buffer it is given
  bool fParameterArraysGarbled;      // of an array of parameter sets bound column-wise, only the first set arrives whole
  bool fBigintTextCut;               // text for a BIGINT parameter is converted through 32 bits unless declared DECIMAL
  const char* szConnectTimeoutKey;   // the connection-string keyword that bounds a connect's wait for the
                                     // server's first answer, which SQL_ATTR_LOGIN_TIMEOUT does not; "": none
};

// The known faults of the driver named szDriverName (as SQLGetInfo(SQL_DRIVER_NAME) reports it; a path
// is taken by its file name); none for a driver that is not in the table.
DriverQuirks QuirksOfDriver(const char* szDriverName);
