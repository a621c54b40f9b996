// Unit test of the diagnostics report for what no driver produces: an invalid handle.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "display/output.h"
#include "odbc/odbc_api.h"

namespace {

// Runs `action` with standard error sent to a temporary file; returns what it wrote there.
template <typename Action>
std::string CaptureStderr(Action action) {
  FILE* capture = tmpfile();
  int saved = dup(STDERR_FILENO);
  dup2(fileno(capture), STDERR_FILENO);
  action();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  rewind(capture);
  for (int c; (c = fgetc(capture)) != EOF;) text += static_cast<char>(c);
  fclose(capture);
  return text;
}

TEST(ReportDiagnostics, InvalidHandleAsksForNoRecord) {
  SQLHENV env = SQL_NULL_HENV;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  // Give the handle a record of its own: it must still not be asked for.
  SQLSetEnvAttr(env, 9999, nullptr, 0);
  EXPECT_EQ(CaptureStderr([&] { ReportDiagnostics(env, SQL_HANDLE_ENV, SQL_INVALID_HANDLE); }), "Invalid handle!\n");
  EXPECT_EQ(CaptureStderr([&] { EXPECT_FALSE(CheckedCall(env, SQL_HANDLE_ENV, SQL_ERROR, "Call(x)")); }),
            "[S1092] [unixODBC][Driver Manager]Invalid attribute/option identifier (0)\nError in Call(x)\n");
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace
