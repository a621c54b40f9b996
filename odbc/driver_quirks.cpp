// The table of known driver faults and its look-up by driver name.
#include "odbc/driver_quirks.h"

#include <sqlext.h>
#include <strings.h>

#include <cstring>

namespace {

// One driver's known faults.
struct DriverQuirks {
  const char* szNamePrefix;       // the start of the driver's reported file name, compared regardless of case
  bool fConcurrentCancelCrashes;  // SQLCancel from a second thread during a call on the statement crashes it
};

constexpr DriverQuirks KNOWN_QUIRKS[] = {
    // Virtuoso's own driver (virtodbc.so, virtodbc_r.so, virtodbcu_r.so; every build reports "virtodbc.so"):
    // SQLCancel while SQLExecDirect or SQLFetch runs waits on the socket the running call already waits on,
    // and the driver stops with "GPF: Dksestcp.c:1134 internal error" and a segmentation fault.
    {"virtodbc", true},
};

}  // namespace

bool ConcurrentCancelCrashes(const char* szDriverName) {
  // Some drivers report a path: the file name decides.
  const char* szFileName = strrchr(szDriverName, '/');
  szFileName = szFileName != nullptr ? szFileName + 1 : szDriverName;
  for (const DriverQuirks& quirks : KNOWN_QUIRKS) {
    if (strncasecmp(szFileName, quirks.szNamePrefix, strlen(quirks.szNamePrefix)) == 0) {
      return quirks.fConcurrentCancelCrashes;
    }
  }
  return false;
}

bool ConcurrentCancelCrashes(SQLHDBC lpDbc) {
  // A longer name is cut, which keeps its start: the part the table compares.
  SQLCHAR szDriverName[256] = {};
  SQLRETURN RetCode = SQLGetInfo(lpDbc, SQL_DRIVER_NAME, szDriverName, sizeof szDriverName, nullptr);
  if (!SQL_SUCCEEDED(RetCode)) return false;
  szDriverName[sizeof szDriverName - 1] = '\0';
  return ConcurrentCancelCrashes(reinterpret_cast<const char*>(szDriverName));
}
