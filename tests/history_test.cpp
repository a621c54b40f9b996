// End-to-end tests of the history file: statements typed on a pseudo-terminal, kept across sessions.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "console_runner.h"

namespace {

const std::string kUp = "\x1b[A";
const std::string kPrompt = "SQL COMMAND>";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Types a statement at the prompt and waits for `shown`; returns the position after it.
size_t TypeAndWait(TerminalSession& session, const std::string& keys, const std::string& shown, size_t at) {
  EXPECT_TRUE(WaitForEditor(session));
  Type(session, keys);
  at = WaitFor(session, shown, at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  return at == std::string::npos ? 0 : at;
}

TEST(History, StatementsLastAcrossSessionsOneEntryEachAndTheFileStaysPrivateAndShort) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/history.db");
  std::string file = dir.path + "/state/odbc-console/history";
  // The first session creates the directories and the file, and keeps what it should.
  TerminalSession first = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE", "XDG_STATE_HOME=" + dir.path + "/state"});
  size_t at = WaitFor(first, kPrompt);
  at = TypeAndWait(first, "create table t(x)\r", "0 rows affected", at);
  at = TypeAndWait(first, " insert into t values('typed with a leading blank')\r", "1 row affected", at);
  at = TypeAndWait(first, "select 'back\\slash' as x\r", "| back\\slash", at);
  at = TypeAndWait(first, "select 1 as \"pwd=hidden\"\r", "| pwd=hidden", at);
  EXPECT_EQ(Finish(first), 0);
  EXPECT_EQ(ReadFile(file), "create table t(x)\nselect 'back\\\\slash' as x\n");
  struct stat info;
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir.path + "/state/odbc-console").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A file of 1,100 entries, the last spanning lines: read at start, trimmed to 1,000, and the multi-line
  // entry recalled whole.
  std::string seeded;
  for (int i = 0; i < 1099; ++i) seeded += "select " + std::to_string(i) + "\n";
  seeded += "select 'two\\\\lines' as a,\\n 2 as b\n";
  std::ofstream(file, std::ios::trunc) << seeded;
  TerminalSession second = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + file});
  at = WaitFor(second, kPrompt);
  at = TypeAndWait(second, kUp + "\r", "| two\\lines ", at);
  EXPECT_EQ(Finish(second), 0);
  std::string kept = ReadFile(file);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 1001) << kept.substr(0, 200);
  const std::string multiLine = "select 'two\\\\lines' as a,\\n 2 as b\n";
  EXPECT_EQ(kept.substr(0, 22), "select 100\nselect 101\n");
  EXPECT_EQ(kept.substr(kept.size() - 2 * multiLine.size()), multiLine + multiLine);

  // A file that cannot be read: one warning, and the session goes on.
  std::ofstream(dir.path + "/plain") << "not a directory";
  TerminalSession third = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + dir.path + "/plain/history"});
  at = WaitFor(third, "Warning: cannot read the history file " + dir.path + "/plain/history: Not a directory");
  at = TypeAndWait(third, "insert into t values(1)\r", "1 row affected", at);
  at = TypeAndWait(third, "insert into t values(2)\r", "1 row affected", at);
  EXPECT_EQ(Finish(third), 0);
  EXPECT_EQ(third.screen.find("Warning", at), std::string::npos) << third.screen;
}

}  // namespace
