// End-to-end tests of scripts as people write them: several inputs, errors that say where, variables, \o,
// JSON Lines and Markdown, the start-up file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "console_runner.h"

namespace {

struct ScriptsTest : ::testing::Test {
  TempDir dir;
  std::string db = dir.path + "/scripts.db";
  std::string conn = SqliteConnStr(db);
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // No start-up file of the machine's user reaches these runs, unless a test names one.
  ConsoleOptions NoRc() {
    ConsoleOptions options;
    options.extraEnv = {"ODBC_CONSOLE_RC=" + dir.path + "/no-rc"};
    return options;
  }
};

TEST_F(ScriptsTest, InputsRunInOrderAndAFileSaysWhereItFailed) {
  ASSERT_EQ(ExecSql(conn, {"create table log(n integer primary key autoincrement, what text)"}), "");
  // Line 2,000 of the first file fails, after blank lines, comments and a console command between statements.
  std::string first = "insert into log(what) values('first');\n\\echo between\n\n-- a comment\n";
  for (int line = 5; line < 2000; ++line) first += line % 2 ? "/* c */\n" : "\n";
  first += "insert into nosuch\n  values(1);\ninsert into log(what) values('after');\n";
  std::string one = Write("one.sql", first);
  std::string two = Write("two.sql", "insert into log(what) values('two');\n\\i " + Write("inner.sql", "\n  select bad;\n") + "\n");
  std::vector<std::string> args = {"-c", "insert into log(what) values('c1')", "-f", one, "-c",
                                   "insert into log(what) values('c2'); insert into log(what) values('c2b')",
                                   "-f", two, "-c", "\\echo last", "-c", "select bad2", "--csv", conn};
  ConsoleResult run = RunConsole(args, "insert into log(what) values('stdin')\n", NoRc());
  EXPECT_EQ(run.err, one + ":2000: [S1000] [SQLite]no such table: nosuch (1) (1)\n" + dir.path +
                         "/inner.sql:2: [S1000] [SQLite]no such column: bad (1) (1)\n"
                         "[S1000] [SQLite]no such column: bad2 (1) (1)\n");
  EXPECT_EQ(run.out, "between\nlast\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(DriverText(conn, "select group_concat(what, ' ') from log"), "c1 first after c2 c2b two\n");
  // -e ends at the first failure among all inputs; a statement typed at the prompt keeps the plain report.
  run = RunConsole({"-e", "-c", "insert into log(what) values('e1')", "-f", one, "-c", "insert into log(what) values('e2')", conn},
                   "", NoRc());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(DriverText(conn, "select count(*) from log where what in ('e1', 'e2')"), "1\n");
  run = RunConsole({"-b", conn}, "select bad\n", NoRc());
  EXPECT_EQ(run.err, "[S1000] [SQLite]no such column: bad (1) (1)\n");
  // -f - reads standard input, split into statements and named as such.
  run = RunConsole({"-f", "-", conn}, "select 1 as a;\n\nselect\n bad; select 2 as b\n", NoRc());
  EXPECT_EQ(run.err, "<stdin>:3: [S1000] [SQLite]no such column: bad (1) (1)\n");
  auto lines = TableLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[3][0], "2");
}

TEST_F(ScriptsTest, VariablesAreOneLiteralOrNameAndNeverTouchQuotesOrComments) {
  std::string hostile = "x'); drop table t; select ('\\";
  std::string name = "we\"ird;name";
  ConsoleResult run = RunConsole({"--csv", "-v", "v=" + hostile, "--set", "n=" + name, "--set=col=2",
                                  "-c", "create table :\"n\"(a text); insert into :\"n\" values(:'v')",
                                  "-c", "select :'v' as lit, :col + 1 as num, ':v' as q, \":v\" as \"id:v\" /* :v */ -- :v\n"
                                        "from :\"n\"",
                                  "-c", "\\set col 40", "-c", "\\echo :col :'col' :\"col\" ::col :nosuch", conn},
                                 "", NoRc());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  // The value comes back as it was: the literal was one; the text in quotes and comments was left alone.
  EXPECT_EQ(run.out, "lit,num,q,id:v\n" + hostile + ",3,:v,:v\n40 '40' \"40\" ::col :nosuch\n");
  EXPECT_EQ(DriverText(conn, "select a from \"we\"\"ird;name\""), hostile + "\n");
  // Line mode sends the line as typed; \set alone lists, \unset removes.
  run = RunConsole({"-b", "-v", "v=1", conn}, "select :v\n\\set w two words\n\\set\n\\unset v\n\\set\n", NoRc());
  EXPECT_NE(run.err.find("parameter"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "v = '1'\nw = 'two words'\nw = 'two words'\n");
  run = RunConsole({"-v", "1x=2", conn}, "", NoRc());
  EXPECT_EQ(run.status, 2);
}

TEST_F(ScriptsTest, OutputGoesToAFileOrACommandAndBack) {
  std::string file = dir.path + "/out.csv";
  ConsoleResult run = RunConsole({"-m", "-b", conn},
                                 "\\format csv\n\\o " + file + "\nselect 1 as a;\n\\o | wc -l\n"
                                 "with recursive c(i) as (select 1 union all select i + 1 from c where i < 99) select i from c;\n"
                                 "\\o " + dir.path + "/no/such/dir\nselect 3 as c;\n\\o\nselect 2 as b;\n",
                                 NoRc());
  EXPECT_EQ(Read(file), "a\n1\n");
  // A file that cannot be opened leaves the output where it was: the command counts the header and 99 rows,
  // then c and 3; its count comes before what follows.
  EXPECT_EQ(run.out, "102\nb\n2\n");
  EXPECT_EQ(run.err, "cannot write '" + dir.path + "/no/such/dir': No such file or directory\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(ScriptsTest, AtATerminalOutputToAFileIsNeitherCutToTheWindowNorPausedNorHighlighted) {
  std::string file = dir.path + "/fit.txt";
  TerminalSession session = StartOnTerminal({"--format=fit", conn}, 8, 40, "C.UTF-8", {"ODBC_CONSOLE_RC=" + dir.path + "/no-rc"});
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "\\o " + file + "\r");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 20) select i, printf('%.60c', 'y') as s from c\r");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "\\o\r");
  ASSERT_TRUE(WaitForEditor(session)) << session.screen;
  Type(session, "select 'back' as w\r");
  EXPECT_NE(WaitFor(session, "│ back │"), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  std::string text = Read(file);
  EXPECT_NE(text.find("│ 20 │ " + std::string(60, 'y') + " │\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Press ENTER"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
}

TEST_F(ScriptsTest, JsonMatchesTheCsvExportAndMarkdownEscapesHostileValues) {
  ASSERT_EQ(ExecSql(conn, {"create table m(i integer, r real, t text, b blob, e text, n text)",
                           "insert into m values(-9223372036854775808, 1.5e300, 'q\"uote\\back\nline\ttab' || char(1, 8232), x'00ff', '', null)",
                           "insert into m values(0, -0.25, 'Zoë 抹茶 ' || cast(x'ff41e282' as text), x'', 'x', 'y')"}),
            "");
  std::string json = dir.path + "/m.json", csv = dir.path + "/m.csv";
  ConsoleOptions options = NoRc();
  options.locale = "C.UTF-8";
  options.stdoutFile = json;
  RunConsole({"--format=json", conn}, "select * from m\nselect 1 as \"a\"\"b\", 'x' as \"a\"\"b\"\n", options);
  options.stdoutFile = csv;
  RunConsole({"--csv", conn}, "select * from m\n", options);
  std::string jsonText = Read(json);
  EXPECT_NE(jsonText.find("\"t\":\"q\\\"uote\\\\back\\nline\\ttab\\u0001\xE2\x80\xA8\""), std::string::npos) << jsonText;
  EXPECT_NE(jsonText.find("\"i\":0,\"r\":-0.25,\"t\":\"Zoë 抹茶 \xEF\xBF\xBD" "A\xEF\xBF\xBD\""), std::string::npos) << jsonText;
  EXPECT_NE(jsonText.find("\n{\"a\\\"b\":1,\"a\\\"b\":\"x\"}\n"), std::string::npos) << jsonText;
  std::string firstTwo = jsonText.substr(0, jsonText.find("\n{\"a\\\"b\"") + 1);
  Write("two.json", firstTwo);
  EXPECT_EQ(system(("python3 " PROJECT_SOURCE_DIR "/tests/json_matches_csv.py " + dir.path + "/two.json " + csv + " >/dev/null").c_str()), 0)
      << firstTwo << Read(csv);
  ConsoleResult run = RunConsole({"--format=markdown", "-c",
                                  "select 'a|b' as \"p|q\", 'x\\|y' as s, 'one\r\ntwo\nthree' as l, '<img src=x onerror=alert(1)>&amp;' as h, "
                                  "null as n, 12 as k", conn},
                                 "", NoRc());
  EXPECT_EQ(run.out,
            "| p\\|q | s | l | h | n | k |\n| --- | --- | --- | --- | --- | ---: |\n"
            "| a\\|b | x\\\\\\|y | one<br>two<br>three | &lt;img src=x onerror=alert(1)>&amp;amp; |  | 12 |\n");
}

TEST_F(ScriptsTest, StartupFileRunsFirstSaysWhereItFailedAndMinusXSkipsIt) {
  std::string rc = Write("rc", "\\format fit\n\\timing on\nselect nosuch;\n\\set who rc\n");
  ConsoleOptions options;
  options.extraEnv = {"ODBC_CONSOLE_RC=" + rc};
  ConsoleResult run = RunConsole({"-b", "-m", conn}, "select 'abc' as x, :'who' as w;\n", options);
  EXPECT_EQ(run.err, rc + ":3: [S1000] [SQLite]no such column: nosuch (1) (1)\n");
  EXPECT_EQ(run.status, 0);  // the start-up file's failure is not the script's
  EXPECT_NE(run.out.find("Output format is fit.\nTiming is on.\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("| x   | w  |\n| abc | rc |\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Time: "), std::string::npos) << run.out;
  // XDG_CONFIG_HOME's file when ODBC_CONSOLE_RC is not set; -X skips it.
  mkdir((dir.path + "/config").c_str(), 0700);
  mkdir((dir.path + "/config/odbc-console").c_str(), 0700);
  Write("config/odbc-console/rc", "\\timing on\n");
  options.extraEnv = {"XDG_CONFIG_HOME=" + dir.path + "/config"};
  run = RunConsole({"-b", conn}, "select 1\n", options);
  EXPECT_NE(run.out.find("Time: "), std::string::npos) << run.out;
  run = RunConsole({"-b", "-X", conn}, "select 1\n", options);
  EXPECT_EQ(run.out.find("Time: "), std::string::npos) << run.out;
  options.extraEnv = {"ODBC_CONSOLE_RC=" + rc};
  run = RunConsole({"--no-rc", "-b", conn}, "select 1\n", options);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find("fit"), std::string::npos) << run.out;
}

}  // namespace
