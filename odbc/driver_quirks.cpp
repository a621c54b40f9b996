// The table of known driver faults and its look-up by driver name.
#include "odbc/driver_quirks.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr DriverQuirks KNOWN_QUIRKS[] = {
    // Virtuoso's own driver (virtodbc.so, virtodbc_r.so, virtodbcu_r.so; every build reports "virtodbc.so"):
    // SQLCancel while SQLExecDirect or SQLFetch runs waits on the socket the running call already waits on,
    // and the driver stops with "GPF: Dksestcp.c:1134 internal error" and a segmentation fault. Its string
    // attributes of SQLColAttribute (the label among them) are written without regard to the buffer's size.
    // Of an array of parameter sets (7.2.5), the sets after the first arrive as zeros and stray bytes. A
    // BIGINT column is described as an INTEGER of 19 digits, and text for it arrives cut to 32 bits
    // (-9223372036854775807 as 1), or as 0 when declared BIGINT or VARCHAR: declared DECIMAL, it arrives whole.
    {"virtodbc", true, false, true, true, true, ""},
    // The MariaDB driver (libmaodbc, 3.1) crashes in SQLMoreResults after a statement without a result set
    // whose text holds several semicolons, as a CREATE PROCEDURE body does. Its results after a count are a
    // procedure call's closing status, which shows nothing. It connects within SQL_ATTR_LOGIN_TIMEOUT, but
    // waits for a server that accepts and never answers for good, and a signal does not end the wait:
    // CONN_TIMEOUT bounds it.
    {"libmaodbc", false, true, false, false, false, "CONN_TIMEOUT"},
};

}  // namespace

DriverQuirks QuirksOfDriver(const char* szDriverName) {
  const char* szFileName = strrchr(szDriverName, '/');
  szFileName = szFileName != nullptr ? szFileName + 1 : szDriverName;
  for (const DriverQuirks& quirks : KNOWN_QUIRKS) {
    if (strncasecmp(szFileName, quirks.szNamePrefix, strlen(quirks.szNamePrefix)) == 0) return quirks;
  }
  return DriverQuirks{"", false, false, false, false, false, ""};
}
