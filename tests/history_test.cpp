// End-to-end tests of the history file and of what stays private: statements typed on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

TEST(History, PrivateStatementsAndPasswordsStayOutOfTheFileAndTheArguments) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/private.db");
  std::string file = dir.path + "/history";
  // A line that starts with a tab (typed after Ctrl-V: a bare Tab completes) is kept out like one with a blank.
  TerminalSession lines = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + file});
  size_t at = WaitFor(lines, kPrompt);
  at = TypeAndWait(lines, "\x16\tselect 'tabbed' as a\r", "| tabbed", at);
  at = TypeAndWait(lines, "select 'kept' as b\r", "| kept", at);
  EXPECT_EQ(Finish(lines), 0);
  // Statement mode judges a statement as typed, its leading blanks included; a password attribute is one
  // whatever blanks or line breaks stand around its name, in a statement or in the arguments ps shows.
  std::string args = conn + ";\n  PWD=S3cr3t;\tPassword\t=\t{x;y}";
  TerminalSession statements = StartOnTerminal({"-m", args}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + file});
  at = WaitFor(statements, kPrompt);
  ASSERT_NE(at, std::string::npos) << statements.screen;
  std::ifstream proc("/proc/" + std::to_string(statements.pid) + "/cmdline", std::ios::binary);
  std::string cmdline((std::istreambuf_iterator<char>(proc)), std::istreambuf_iterator<char>());
  EXPECT_EQ(cmdline, std::string(ODBC_CONSOLE_PATH) + '\0' + "-m" + '\0' + conn + ";\n  PWD=******;\tPassword\t=******" + '\0');
  at = TypeAndWait(statements, "  select 'blank' as c;\r", "| blank", at);
  at = TypeAndWait(statements, "select pwd from (select 'hidden' as pwd) where pwd\r= 'hidden';\r", "| hidden", at);
  at = TypeAndWait(statements, "select 'also kept' as d;\r", "| also kept", at);
  EXPECT_EQ(Finish(statements), 0);
  EXPECT_EQ(ReadFile(file), "select 'kept' as b\nselect 'also kept' as d;\n");
}

TEST(History, TrimmingThroughALinkRewritesTheFileItNamesInPlaceAndACutLineIsNoEntry) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/history.db");
  // A link to a file of 1,200 lines that is readable by all and has a second name.
  std::string target = dir.path + "/notes", link = dir.path + "/history", secondName = dir.path + "/notes-too";
  std::string seeded, kept;
  for (int i = 0; i < 1200; ++i) {
    std::string line = "select " + std::to_string(i) + "\n";
    seeded += line;
    if (i >= 200) kept += line;
  }
  std::ofstream(target) << seeded;
  ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  ASSERT_EQ(::link(target.c_str(), secondName.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  struct stat before;
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  TerminalSession session = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + link});
  size_t at = WaitFor(session, kPrompt);
  at = TypeAndWait(session, "select 'new' as n\r", "| new", at);
  EXPECT_EQ(Finish(session), 0);
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(info.st_ino, before.st_ino);
  std::string trimmed = ReadFile(secondName);
  EXPECT_TRUE(trimmed == kept + "select 'new' as n\n") << std::count(trimmed.begin(), trimmed.end(), '\n') << " lines from "
                                                      << trimmed.substr(0, trimmed.find('\n'));

  // A last line with no newline is what a write cut short (a full disk) leaves: it is never recalled, and
  // the next entry starts a line of its own, also when another session left it meanwhile.
  std::string file = dir.path + "/cut";
  std::ofstream(file) << "select 'whole' as w\nselect 'cu";
  TerminalSession next = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + file});
  at = WaitFor(next, kPrompt);
  at = TypeAndWait(next, kUp + "\r", "| whole", at);
  std::ofstream(file, std::ios::app) << "select 'la";
  at = TypeAndWait(next, "select 'next' as x\r", "| next", at);
  EXPECT_EQ(Finish(next), 0);
  EXPECT_EQ(ReadFile(file), "select 'whole' as w\nselect 'whole' as w\nselect 'la\nselect 'next' as x\n");
}

// Makes a private character device like the system's /dev/`name` (major 1, `minor`), or, where nodes
// cannot be made, returns the system's own: either is only ever written to.
std::string CharacterDevice(const std::string& dir, const std::string& name, unsigned minor) {
  std::string path = dir + "/" + name;
  if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) return path;
  return "/dev/" + name;
}

TEST(History, APathThatIsNoFileIsNeverReadNorReplaced) {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/history.db");
  // A FIFO with no reader: the start does not wait for a writer, and the first entry cannot be written.
  std::string fifo = dir.path + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TerminalSession piped = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + fifo});
  size_t at = WaitFor(piped, kPrompt);
  ASSERT_NE(at, std::string::npos) << piped.screen;
  at = TypeAndWait(piped, "select 1 as one\r", "Warning: cannot write the history file " + fifo + ": No such device or address", at);
  EXPECT_EQ(Finish(piped), 0);
  struct stat info;
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  // A device that never ends is not read (the start does not hang), and one that is full warns once; both
  // stay the devices they were.
  for (const auto& [name, minor, shown] : {std::tuple<std::string, unsigned, std::string>{"zero", 5, "2  |"},
                                           {"full", 7, "No space left on device"}}) {
    std::string device = CharacterDevice(dir.path, name, minor);
    TerminalSession session = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + device});
    at = WaitFor(session, kPrompt);
    ASSERT_NE(at, std::string::npos) << session.screen;
    at = TypeAndWait(session, "select 2 as two\r", shown, at);
    at = TypeAndWait(session, "select 3 as three\r", "3  |", at);
    EXPECT_EQ(Finish(session), 0);
    EXPECT_EQ(session.screen.find("Warning", at), std::string::npos) << session.screen;
    ASSERT_EQ(lstat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
    EXPECT_EQ(info.st_rdev, makedev(1, minor)) << device;
  }
  // A directory: one warning at the start, and it stays an empty directory.
  std::string directory = dir.path + "/directory";
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  TerminalSession session = StartOnTerminal({conn}, 24, 100, "C", {"ODBC_CONSOLE_HISTFILE=" + directory});
  at = WaitFor(session, "Warning: cannot read the history file " + directory + ": Is a directory");
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = TypeAndWait(session, "select 4 as four\r", "4  |", at);
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(ShellOutput("ls -A " + directory), "");
}

}  // namespace
