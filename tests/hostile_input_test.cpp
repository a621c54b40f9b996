// End-to-end tests with input no one should send: huge lines, invalid text, escapes, random bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console_runner.h"

// True in a build with AddressSanitizer, whose shadow memory does not fit in a limited address space.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

struct HostileInputTest : ::testing::Test {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/hostile.db");
  void SetUp() override { ASSERT_EQ(ExecSql(conn, {"create table t(id integer, name text)"}), ""); }
};

// True when text holds a byte that could drive a terminal: any control character but newline and tab.
bool HasControlBytes(const std::string& text) {
  for (unsigned char byte : text) {
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

TEST_F(HostileInputTest, MegabyteLinesAndInvalidTextRunUnaltered) {
  std::string big(1000000, 'y');
  std::string input = "insert into t values(1, '" + big + "')\n" + "insert into t values(2, '\xff\xfe\xc3')\n" +
                      "select id, length(name), hex(substr(name, 1, 3)) from t order by id\n";
  ConsoleResult run = RunConsole({conn}, input);
  EXPECT_EQ(run.err, "Connected!\n");
  EXPECT_NE(run.out.find("|          1 |      1000000 | 797979"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|          2 |            3 | FFFEC3"), std::string::npos) << run.out;
}

TEST_F(HostileInputTest, EscapesInNamesValuesAndMessagesNeverReachTheTerminal) {
  ASSERT_EQ(ExecSql(conn, {"insert into t values(1, 'x' || char(27) || ']0;owned' || char(7) || char(13) || char(155) || 'y')"}), "");
  std::string input = std::string("select name as \"a\x1b[2Jb\" from t\n") + "select \x1b[31m from t\n" +
                      "select cast(x'1b5b3331' as text) as c\n";
  for (const char* locale : {"C", "C.UTF-8"}) {
    ConsoleOptions options;
    options.locale = locale;
    options.mergeStreams = true;
    ConsoleResult run = RunConsole({conn}, input, options);
    EXPECT_FALSE(HasControlBytes(run.out)) << run.out;
    EXPECT_NE(run.out.find("a?[2Jb"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("unrecognized token: \"?\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" ?[31 "), std::string::npos) << run.out;
    EXPECT_EQ(run.status, 0);
  }
}

TEST_F(HostileInputTest, MemoryRunningOutEndsWithAMessageAfterTheDatabaseIsClosed) {
  if (kAddressSanitizer) GTEST_SKIP() << "a sanitizer's shadow memory does not fit in a limited address space";
  // In WAL mode the -wal file goes when the last connection to the database closes: it shows the close.
  ASSERT_EQ(ExecSql(conn, {"pragma journal_mode=wal"}), "");
  std::string walFile = dir.path + "/hostile.db-wal";
  struct stat info;
  ConsoleOptions limited;
  limited.addressSpaceLimit = size_t{400} << 20;
  // A 150 MB line, at the table's prompt and in an export: it does not run cut, and nothing after it runs.
  std::string line = "insert into t values(2, '" + std::string(150000000, 'y') + "')\n";
  for (const std::vector<std::string>& args : {std::vector<std::string>{conn}, std::vector<std::string>{"--csv", conn}}) {
    ConsoleResult run = RunConsole(args, line + "insert into t values(3, 'after')\n", limited);
    EXPECT_EQ(run.err, args.size() == 1 ? "Connected!\nOut of memory!\n" : "Out of memory!\n");
    EXPECT_EQ(run.status, 156);
    EXPECT_NE(stat(walFile.c_str(), &info), 0) << "the database was not closed";
  }
  ConsoleResult run = RunConsole({"--csv", conn}, "select count(*) from t\n");
  EXPECT_EQ(run.out, "count(*)\n0\n");
}

TEST_F(HostileInputTest, InvisibleAndDirectionalCharactersShowAsMarksButFilesKeepThem) {
  // A right-to-left override that would show "txt.exe" as "exe.txt", with marks, isolates, separators and
  // zero-width characters around it; each shows as one '?'.
  const std::vector<std::string> hidden = {"\u202E", "\u202A", "\u2066", "\u2069", "\u200B", "\u200F", "\u2028",
                                           "\u2029", "\uFEFF", "\u061C"};
  std::string value = "txt";
  for (const std::string& character : hidden) value += character + ".";
  value += "exe";
  // Format and default-ignorable characters that would make "admin" of something else: soft hyphen, word
  // joiner, invisible operators, deprecated format characters, annotation marks, language and tag characters.
  const std::vector<std::string> format = {"\u00AD", "\u180E", "\u2060", "\u2064", "\u206A", "\u206F",
                                           "\uFFF9", "\uFFFB", "\U000E0001", "\U000E0020", "\U000E007F"};
  std::string lookalike = "adm";
  for (const std::string& character : format) lookalike += character;
  lookalike += "in";
  ASSERT_EQ(ExecSql(conn, {"insert into t values(1, '" + value + "')", "insert into t values(2, '" + lookalike + "')"}), "");
  std::string shown = "txt?.?.?.?.?.?.?.?.?.?.exe";
  std::string lookalikeShown = "adm???????????in";
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  ConsoleResult run = RunConsole({conn}, "select name from t order by id\n", utf8);
  EXPECT_NE(run.out.find("\u2502 " + shown + std::string(50 - shown.size(), ' ') + "  \u2502\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\u2502 " + lookalikeShown + std::string(50 - lookalikeShown.size(), ' ') + "  \u2502\n"),
            std::string::npos)
      << run.out;
  // An export to a file keeps every byte.
  utf8.stdoutFile = dir.path + "/hidden.csv";
  run = RunConsole({"--csv", conn}, "select name from t order by id\n", utf8);
  EXPECT_EQ(run.status, 0);
  std::ifstream file(utf8.stdoutFile, std::ios::binary);
  std::stringstream csv;
  csv << file.rdbuf();
  EXPECT_EQ(csv.str(), "name\n" + value + "\n" + lookalike + "\n");
  // An export to a terminal shows them as the table does.
  TerminalSession session = StartOnTerminal({"--csv", conn}, 24, 100, "C.UTF-8");
  Type(session, "select name from t order by id\r");
  EXPECT_NE(WaitFor(session, "name\r\n" + shown + "\r\n" + lookalikeShown + "\r\n"), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("\u202E"), std::string::npos);
  EXPECT_EQ(session.screen.find("\u2060"), std::string::npos);
  Type(session, "\x04");
  int status = 0;
  waitpid(session.pid, &status, 0);
  close(session.master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(HostileInputTest, HugeLineAtAPauseRunsWholeAfterTheListing) {
  ASSERT_EQ(ExecSql(conn, {"with recursive c(i) as (select 1 union all select i + 1 from c where i < 100) "
                           "insert into t select i, 'n' from c"}),
            "");
  std::string reply(100000, 'x');
  reply.replace(0, 13, "delete from t");
  ConsoleResult run = RunConsole({conn}, "select id from t\n" + reply + "\nselect count(*) from t\n");
  // The line is kept whole and runs after the listing: it names a table that does not exist, and the count
  // shows that nothing was deleted.
  EXPECT_NE(run.err.find("no such table: txxx"), std::string::npos) << run.err.substr(0, 300);
  EXPECT_NE(run.out.find("|        100  |"), std::string::npos);
  EXPECT_NE(run.out.find("| count(*)    |\n|        100  |"), std::string::npos) << run.out;
}

TEST_F(HostileInputTest, RandomBytesRunLineByLineWithoutCrashOrHang) {
  std::mt19937 generator(20261208);
  std::string input(200 * 1024, '\0');
  for (char& byte : input) byte = static_cast<char>(generator() & 0xFF);
  // Every line read, statement or refused, is answered by exactly one prompt after the banner's.
  size_t lines = 0;
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find('\n', start);
    ++lines;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (const char* locale : {"C", "C.UTF-8"}) {
    ConsoleOptions options;
    options.locale = locale;
    options.mergeStreams = true;
    ConsoleResult run = RunConsole({conn}, input, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(HasControlBytes(run.out));
    size_t prompts = 0;
    for (size_t at = run.out.find("SQL COMMAND>"); at != std::string::npos; at = run.out.find("SQL COMMAND>", at + 1)) ++prompts;
    EXPECT_EQ(prompts, lines + 1);
    EXPECT_EQ(run.out.substr(run.out.size() - 14), "\nDisconnected.");
  }
}

}  // namespace

namespace {

// A row wider than any 16-bit count: 1,000 text columns of width 50 make lines of 53,002 characters, and
// the header, every row and the end bar are all that wide.
TEST(WideRows, EveryLineOfA53002ColumnTableIsWhole) {
  TempDir dir;
  std::string select = "select 'x' as c0";
  for (int i = 1; i < 1000; ++i) select += ", 'x' as c" + std::to_string(i);
  ConsoleResult run = RunConsole({"-b", SqliteConnStr(dir.path + "/wide.db")}, select + "\nselect 1 as after\n");
  std::istringstream lines(run.out);
  std::vector<size_t> widths;
  for (std::string line; std::getline(lines, line) && widths.size() < 3;) widths.push_back(line.size());
  EXPECT_EQ(widths, (std::vector<size_t>{53002, 53002, 53002})) << run.err;
  EXPECT_NE(run.out.find("| after "), std::string::npos);
}

}  // namespace

// A statement longer than SQLite takes (its 1,000,000,000-byte limit; the driver crashes on one) is refused,
// not sent, and the session goes on to the next line.
TEST_F(HostileInputTest, StatementOverTheSourcesLimitIsRefusedAndTheNextRuns) {
  std::string path = dir.path + "/huge.sql";
  {
    std::ofstream file(path, std::ios::binary);
    file << "insert into t values (1, 'x') /*";
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 954; ++i) file << chunk;  // the statement: 1,000,341,538 bytes
    file << "*/\nselect count(*) as n from t\n";
  }
  int status = 0;
  std::string out = ShellOutput("LC_ALL=C " + std::string(ODBC_CONSOLE_PATH) + " -b '" + conn + "' < " + path + " 2>&1", &status);
  EXPECT_NE(out.find("statement not run: it is 1000341538 bytes long, more than the data source takes"), std::string::npos)
      << out.substr(0, 300);
  EXPECT_NE(out.find("|          0  |"), std::string::npos) << out.substr(0, 600);
  EXPECT_NE(status, 0);
}

// \i of a FIFO that no program writes to waits in its open; Ctrl-C ends the wait, the session stays at its
// prompt and the next statement runs.
TEST_F(HostileInputTest, IncludeOfAFifoWithoutAWriterYieldsToCtrlC) {
  std::string fifo = dir.path + "/no_writer.sql";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TerminalSession session = StartOnTerminal({conn}, 24, 100);
  const std::string prompt = "SQL COMMAND>";
  size_t at = WaitFor(session, prompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\i " + fifo + "\r");
  usleep(500 * 1000);
  Type(session, "\x03");
  at = WaitFor(session, prompt, at + prompt.size(), 5);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 6 * 7 as answer\r");
  at = WaitFor(session, "42", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}
