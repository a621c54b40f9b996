// The table of known driver faults and its look-up by driver name.
#include "odbc/driver_quirks.h"

#include <sqlext.h>
#include <strings.h>

#include <cstring>

namespace {

// One driver's known faults.
struct DriverQuirks {
  const char* szNamePrefix;        // the start of the driver's reported file name, compared regardless of case
  bool fConcurrentCancelCrashes;   // SQLCancel from a second thread during a call on the statement crashes it
  bool fStringAttributesOverrun;   // SQLColAttribute writes string attributes past the buffer it is given
};

constexpr DriverQuirks KNOWN_QUIRKS[] = {
    // Virtuoso's own driver (virtodbc.so, virtodbc_r.so, virtodbcu_r.so; every build reports "virtodbc.so"):
    // SQLCancel while SQLExecDirect or SQLFetch runs waits on the socket the running call already waits on,
    // and the driver stops with "GPF: Dksestcp.c:1134 internal error" and a segmentation fault. Its string
    // attributes of SQLColAttribute (the label among them) are written without regard to the buffer's size.
    {"virtodbc", true, true},
};

constexpr DriverQuirks NO_QUIRKS = {"", false, false};

// The known faults of the driver named szDriverName, or none.
const DriverQuirks& QuirksOf(const char* szDriverName) {
  // Some drivers report a path: the file name decides.
  const char* szFileName = strrchr(szDriverName, '/');
  szFileName = szFileName != nullptr ? szFileName + 1 : szDriverName;
  for (const DriverQuirks& quirks : KNOWN_QUIRKS) {
    if (strncasecmp(szFileName, quirks.szNamePrefix, strlen(quirks.szNamePrefix)) == 0) return quirks;
  }
  return NO_QUIRKS;
}

// The known faults of the driver behind lpDbc; a driver whose name cannot be read is trusted.
const DriverQuirks& QuirksOf(SQLHDBC lpDbc) {
  // A longer name is cut, which keeps its start: the part the table compares.
  SQLCHAR szDriverName[256] = {};
  SQLRETURN RetCode = SQLGetInfo(lpDbc, SQL_DRIVER_NAME, szDriverName, sizeof szDriverName, nullptr);
  if (!SQL_SUCCEEDED(RetCode)) return NO_QUIRKS;
  szDriverName[sizeof szDriverName - 1] = '\0';
  return QuirksOf(reinterpret_cast<const char*>(szDriverName));
}

}  // namespace

bool ConcurrentCancelCrashes(const char* szDriverName) { return QuirksOf(szDriverName).fConcurrentCancelCrashes; }

bool ConcurrentCancelCrashes(SQLHDBC lpDbc) { return QuirksOf(lpDbc).fConcurrentCancelCrashes; }

bool StringAttributesOverrun(SQLHDBC lpDbc) { return QuirksOf(lpDbc).fStringAttributesOverrun; }
