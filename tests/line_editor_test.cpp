// End-to-end tests of the terminal's line editor and of Ctrl-C, typed as bytes on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console_runner.h"

namespace {

const std::string kLeft = "\x1b[D";
const std::string kUp = "\x1b[A";
const std::string kBackspace = "\x7f";
const std::string kCtrlC = "\x03";
const std::string kPrompt = "SQL COMMAND>";
// Long enough to be cancelled: SQLite computes it inside SQLExecDirect.
const std::string kLongStatement =
    "with recursive c(i) as (select 1 union all select i + 1 from c where i < 2000000000) select count(*) from c";

struct LineEditorTest : ::testing::Test {
  TempDir dir;
  std::string conn = SqliteConnStr(dir.path + "/editor.db");
  void SetUp() override { ASSERT_EQ(ExecSql(conn, {"create table people(id integer, name text)"}), ""); }
  // The rows of a query, read afterwards by a batch run.
  std::vector<std::vector<std::string>> Rows(const std::string& query) {
    auto lines = TableLines(RunConsole({"-b", conn}, query + "\n", Utf8()).out, "│");
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }
  static ConsoleOptions Utf8() {
    ConsoleOptions options;
    options.locale = "C.UTF-8";
    return options;
  }
};

TEST_F(LineEditorTest, EditedLinesRecallAndCompletionReachTheDriverAsShown) {
  TerminalSession session = StartOnTerminal({conn}, 24, 200, "C.UTF-8");
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_NE(at, std::string::npos) << session.screen;
  // A typo mended with the arrow keys: the driver gets the corrected text, no escape sequence.
  Type(session, "insert into peopel values(1, 'Ann')");
  for (int i = 0; i < 17; ++i) Type(session, kLeft);
  Type(session, kBackspace + kBackspace + "le\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // A double-width character and an accented one move and delete as one.
  Type(session, "insert into people values(2, 'Zoé抹')" + kLeft + kLeft + kLeft + kBackspace + "\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // Up recalls the last line, which runs again.
  Type(session, kUp + "\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // Tab completes a keyword in the case typed, and a table name from the catalog.
  Type(session, "sel\t* from peo\t\r");
  at = WaitFor(session, "│ id ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(Rows("select id, name from people order by rowid"),
            (std::vector<std::vector<std::string>>{{"1", "Ann"}, {"2", "Zo抹"}, {"2", "Zo抹"}}));
}

TEST_F(LineEditorTest, CtrlCDiscardsTheLineCancelsTheStatementAndStopsTheListing) {
  TerminalSession session = StartOnTerminal({conn}, 10, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_NE(at, std::string::npos) << session.screen;
  // At the prompt: the line is discarded and a fresh prompt shown.
  Type(session, "insert into people values(9, 'never')" + kCtrlC);
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_NE(at, std::string::npos) << session.screen;
  // While a statement executes: it is cancelled, its record printed, and the session goes on.
  Type(session, kLongStatement + "\r");
  at = WaitFor(session, "count(*) from c\r\n", at);  // the statement has been handed over
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditorToLetGo(session));
  // A Ctrl-C in the moment between the hand-over and the start of the execution drops the statement unrun
  // (a prompt comes back without a cancel): it is handed over again until a cancel shows.
  size_t cancelled = std::string::npos;
  for (int tries = 0; tries < 10 && cancelled == std::string::npos; ++tries) {
    Type(session, kCtrlC);
    cancelled = WaitFor(session, "interrupted", at, 2);
    size_t dropped = session.screen.find(kPrompt, at);
    if (cancelled == std::string::npos && dropped != std::string::npos) {
      ASSERT_TRUE(WaitForEditor(session));
      Type(session, kLongStatement + "\r");
      at = WaitFor(session, "count(*) from c\r\n", dropped);
      ASSERT_NE(at, std::string::npos) << session.screen;
      ASSERT_TRUE(WaitForEditorToLetGo(session));
    }
  }
  ASSERT_NE(cancelled, std::string::npos) << session.screen;
  at = cancelled;
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  // At a pause: the listing stops without an end bar.
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 100) select i from c\r");
  at = WaitFor(session, "Q to quit10", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, kCtrlC);
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_NE(at, std::string::npos) << session.screen;
  // The next statement runs on the same handle.
  Type(session, "insert into people values(3, 'after')\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(Rows("select id from people"), (std::vector<std::vector<std::string>>{{"3"}}));
}

TEST_F(LineEditorTest, CtrlCDuringAStreamedListingStopsIt) {
  // A window of 30000 rows: the listing streams without pausing.
  TerminalSession session = StartOnTerminal({conn + ";StepAPI=1"}, 30000, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 10000000) select i from c\r");
  at = WaitFor(session, "| 2000 ", at);
  ASSERT_NE(at, std::string::npos) << session.screen.substr(0, 2000);
  Type(session, kCtrlC);
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  ASSERT_NE(at, std::string::npos);
  // Rows that stop coming (past the 1000th each computes a count of its own): the terminal's ^C follows the
  // last row shown, and the prompt starts a line of its own.
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 100000) select i, case when "
                "i <= 1000 then 0 else (with recursive d(j) as (select 1 union all select j + 1 from d where j < 100000 + c.i) "
                "select count(*) from d) end as n from c\r");
  at = WaitFor(session, "| 1000 ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, kCtrlC);
  at = WaitFor(session, kPrompt, at);
  ASSERT_TRUE(WaitForEditor(session));
  EXPECT_EQ(session.screen.find("^C" + kPrompt), std::string::npos) << session.screen.substr(session.screen.size() - 300);
  Type(session, "select 'still here' as s\r");
  EXPECT_NE(WaitFor(session, "| still here", at), std::string::npos) << session.screen.substr(session.screen.size() - 600);
  EXPECT_EQ(Finish(session), 0);
}

TEST_F(LineEditorTest, PausesKeepTheHeaderOnScreenAndCtrlDThereEndsTheSession) {
  // A 72-wide line on a 40-column window takes two screen lines: a page of (10 - 1 - 2) / 2 = 3 rows.
  TerminalSession session = StartOnTerminal({conn}, 10, 40);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select i, printf('%60d', i) as wide from (select 1 as i union all select 2 union all select 3 "
                "union all select 4)\r");
  at = WaitFor(session, "Q to quit10", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_NE(session.screen.find("  3 |"), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("  4 |"), std::string::npos) << session.screen;
  // Ctrl-D at the pause stops the listing and ends the session.
  Type(session, "\x04");
  EXPECT_NE(WaitFor(session, "Disconnected.", at), std::string::npos) << session.screen;
  int status = 0;
  waitpid(session.pid, &status, 0);
  close(session.master);
  EXPECT_EQ(session.screen.find("  4 |"), std::string::npos) << session.screen;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(LineEditorTest, AfterAStopAndContinueThePromptAndLineShowAgain) {
  TerminalSession session = StartOnTerminal({conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 'half");
  at = WaitFor(session, "select 'half", at);
  ASSERT_NE(at, std::string::npos);
  kill(session.pid, SIGSTOP);
  usleep(100000);
  kill(session.pid, SIGCONT);
  at = WaitFor(session, kPrompt + "select 'half", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, " way' as w\r");
  EXPECT_NE(WaitFor(session, "| half way", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

TEST_F(LineEditorTest, StopsWhileAStatementRunsOrAtAPauseShowThePromptOnceAgain) {
  TerminalSession session = StartOnTerminal({conn}, 10, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  // Stopped and continued while the statement runs: when it ends, one prompt.
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 3000000) "
                "select count(*) as n from c\r");
  at = WaitFor(session, "as n from c\r\n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  kill(session.pid, SIGTSTP);
  usleep(100000);
  kill(session.pid, SIGCONT);
  at = WaitFor(session, "3000000", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 'next' as k\r");
  at = WaitFor(session, "| next", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find(kPrompt + kPrompt), std::string::npos) << session.screen;
  // Stopped and continued at a pause: the pause prompt shows again, and Enter goes on.
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 12) select i from c\r");
  const std::string pause = "Q to quit10";
  at = WaitFor(session, pause, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  kill(session.pid, SIGTSTP);
  usleep(100000);
  kill(session.pid, SIGCONT);
  at = WaitFor(session, pause, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\r");
  at = WaitFor(session, "|         12  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

TEST_F(LineEditorTest, ALineEditedAcrossAResizeWrapsAtTheNewWidth) {
  TerminalSession session = StartOnTerminal({conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 1234567890123456789012345678901234567890 as n");
  at = WaitFor(session, " as n", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // The window narrows to 40 columns while the line (64 columns with the prompt) is edited.
  winsize narrower = {24, 40, 0, 0};
  ioctl(session.master, TIOCSWINSZ, &narrower);
  usleep(200000);
  Type(session, "\x01\x05X");  // to its start, to its end, and one more character
  at = WaitFor(session, "X", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // The editor places the cursor within the new width: no move to a column past 40.
  std::string shown = session.screen.substr(at - 40);
  for (size_t csi = shown.find("\x1b["); csi != std::string::npos; csi = shown.find("\x1b[", csi + 1)) {
    size_t end = shown.find_first_not_of("0123456789", csi + 2);
    if (end != std::string::npos && shown[end] == 'G') {
      EXPECT_LE(std::stoi(shown.substr(csi + 2, end - csi - 2)), 40) << shown;
    }
  }
  Type(session, "\r");
  EXPECT_NE(WaitFor(session, "| nX ", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

TEST_F(LineEditorTest, InterruptedScriptStopsThereWithStatus130) {
  ConsoleOptions options;
  options.interruptAfterMs = 500;
  ConsoleResult run = RunConsole({conn}, kLongStatement + "\ninsert into people values(4, 'too late')\n", options);
  EXPECT_EQ(run.status, 130);
  EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.substr(run.out.size() - 14), "\nDisconnected.");
  EXPECT_TRUE(Rows("select id from people").empty());
}

TEST_F(LineEditorTest, ExportOnATerminalDefusesControlBytes) {
  // A file gets the bytes as stored; a terminal shows them as '?', as the table does.
  TerminalSession session = StartOnTerminal({"--csv", conn}, 24, 100);
  Type(session, "select 'a' || char(27) || ']0;x' || char(7) || 'b' as v\r");
  size_t at = WaitFor(session, "v\r\n");
  EXPECT_NE(WaitFor(session, "a?]0;x?b\r\n", at), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("\x1b]0;"), std::string::npos);
  Type(session, "\x04");
  int status = 0;
  waitpid(session.pid, &status, 0);
  close(session.master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

namespace {

// Lines pasted at once after a long listing: the pause takes exactly one of them as its reply, and the
// next prompt gets the next; none is stranded in a buffer.
TEST_F(LineEditorTest, PastedLinesAfterAListingAreEachReadOnce) {
  ASSERT_EQ(ExecSql(conn, {"with recursive c(i) as (select 1 union all select i + 1 from c where i < 40) "
                           "insert into people select i, 'p' || i from c"}),
            "");
  TerminalSession session = StartOnTerminal({conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select id from people\r\rselect 'pasted' as p\r");
  at = WaitFor(session, "| pasted ", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace

namespace {

const std::string kCtrlR = "\x12";
const std::string kPasteStart = "\x1b[200~";
const std::string kPasteEnd = "\x1b[201~";

// Each cursor key typed during a Ctrl-R search ends it and acts as outside it; none leaves escape text.
TEST_F(LineEditorTest, CursorKeysEndAHistorySearchAndActAsOutsideIt) {
  TerminalSession session = StartOnTerminal({conn}, 50, 100);
  size_t at = WaitFor(session, kPrompt);
  for (const char* name : {"older", "kleft", "kright", "khome", "kss3", "kend", "kfour", "kdel", "kup", "kdown", "newer"}) {
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, std::string("select 'k' as ") + name + "\r");
    at = WaitFor(session, std::string("| ") + name, at);
    ASSERT_NE(at, std::string::npos) << session.screen;
  }
  // A search leaves the cursor at the start of what it found.
  struct Case {
    const char* szFound;   // what the search looks for
    std::string keys;      // the key that ends it, and what is typed after
    const char* szShown;   // what the statement then shows
  };
  const Case cases[] = {
      {"kleft", "\x1b[D" "Z\r", "near \"kleft\": syntax error"},  // 'asZ kleft'
      {"kright", "\x1b[C" "Z\r", "| kZright "},
      {"khome", "\x1b[H" "explain \r", "| opcode "},
      {"kss3", "\x1bOH" "explain \r", "| opcode "},
      {"kend", "\x1b[F" "1\r", "| kend1 "},
      {"kfour", "\x1b[4~" "2\r", "| kfour2 "},
      {"kdel", "\x1b[3~" "\r", "| del "},
      {"kup", "\x1b[A" "\r", "| kdel "},
      {"kdown", "\x1b[B" "\r", "| newer "},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WaitForEditor(session));
    Type(session, kCtrlR + c.szFound);
    usleep(200000);
    Type(session, c.keys);
    at = WaitFor(session, c.szShown, at);
    ASSERT_NE(at, std::string::npos) << c.szFound << ": " << session.screen.substr(session.screen.size() - 600);
  }
  EXPECT_EQ(Finish(session), 0);
}

// A block pasted at the prompt runs line by line as typed, tabs and all, and its unfinished last line waits
// for more; a block pasted at a pause never answers it, even one that starts with an empty line and holds a
// Q: it runs after the listing, whole.
TEST_F(LineEditorTest, PastedBlocksRunAsTypedAndNeverAnswerAPause) {
  TerminalSession session = StartOnTerminal({conn}, 10, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, kPasteStart + "insert into people values(1, 'a')\rinsert into people values(2, 'tab\there')\r" +
                    "select count(*) as n from peo" + kPasteEnd);
  at = WaitFor(session, "select count(*) as n from peo", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "ple\r");
  at = WaitFor(session, "|          2  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "with recursive c(i) as (select 1 union all select i + 1 from c where i < 40) select i from c\r");
  at = WaitFor(session, "Q to quit10", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, kPasteStart + "\rq\rinsert into people values(3, 'q')\r" + kPasteEnd);
  usleep(500000);
  WaitFor(session, "never shown", at, 1);
  EXPECT_EQ(session.screen.find("|          9  |", at), std::string::npos) << session.screen.substr(at);
  Type(session, "\r");
  at = WaitFor(session, "|          9  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "q\r");
  at = WaitFor(session, "1 row affected", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(Rows("select id, name from people order by id"),
            (std::vector<std::vector<std::string>>{{"1", "a"}, {"2", "tab?here"}, {"3", "q"}}));
  // Bracketed paste was on while the console read, and is off again when it ends.
  ASSERT_NE(session.pasteModes.find('h'), std::string::npos);
  EXPECT_EQ(session.pasteModes.back(), 'l');
}

// The screen line the cursor is on after `screen` up to `end`, counted from `from`: line breaks go down,
// the editor's ESC[nA and ESC[nB up and down.
int CursorLine(const std::string& screen, size_t from, size_t end) {
  int line = 0;
  for (size_t i = from; i < end; ++i) {
    if (screen[i] == '\n') {
      ++line;
    } else if (screen[i] == '\x1b' && i + 1 < end && screen[i + 1] == '[') {
      size_t j = i + 2;
      int count = 0;
      while (j < end && isdigit(static_cast<unsigned char>(screen[j]))) count = count * 10 + (screen[j++] - '0');
      if (j < end && (screen[j] == 'A' || screen[j] == 'B')) line += (screen[j] == 'A' ? -1 : 1) * (count == 0 ? 1 : count);
    }
  }
  return line;
}

// Ctrl-C with the cursor on the first line of a recalled statement of three lines: the next prompt comes
// below all three, none of them left under it.
TEST_F(LineEditorTest, CtrlCOnARecalledStatementsFirstLineLeavesNothingUnderThePrompt) {
  TerminalSession session = StartOnTerminal({"-m", conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 1 as a,\r2 as b,\r3 as c;\r");
  at = WaitFor(session, "| a ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  size_t recalled = session.screen.size();
  Type(session, kUp);
  ASSERT_NE(WaitFor(session, "3 as c;", recalled), std::string::npos) << session.screen.substr(recalled);
  Type(session, "\x01");
  usleep(200000);
  Type(session, kCtrlC);
  // The prompt after Ctrl-C must come below all three lines. A redraw of the recalled statement's own
  // prompt may come first (under load, even after the Ctrl-C was typed): prompts are read until one is below.
  size_t lastLine = session.screen.find("3 as c;", recalled);
  at = std::string::npos;
  for (size_t from = recalled; at == std::string::npos;) {
    size_t prompt = WaitFor(session, kPrompt, from, 5);
    if (prompt == std::string::npos) break;
    if (CursorLine(session.screen, recalled, prompt) > CursorLine(session.screen, recalled, lastLine)) at = prompt;
    from = prompt;
  }
  ASSERT_NE(at, std::string::npos) << session.screen.substr(recalled);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 9 as z;\r");
  EXPECT_NE(WaitFor(session, "| z ", at), std::string::npos) << session.screen.substr(recalled);
  EXPECT_EQ(Finish(session), 0);
}

// \e edits the statement being typed, else the last one, in $VISUAL (before $EDITOR) and runs what is
// saved; \watch runs the last statement again, each run headed by the time, until Ctrl-C.
TEST_F(LineEditorTest, EditAndWatchRunTheEditedAndTheLastStatement) {
  std::string editor = dir.path + "/editor.sh";
  FILE* script = fopen(editor.c_str(), "w");
  ASSERT_NE(script, nullptr);
  fputs("#!/bin/sh\nsed -i -e 's/41/42/' -e 's/typed/edited/' \"$1\"\n", script);
  fclose(script);
  chmod(editor.c_str(), 0755);
  TerminalSession session = StartOnTerminal({"-m", conn}, 50, 100, "C", {"VISUAL=" + editor, "EDITOR=false"});
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 41 as answer;\r");
  at = WaitFor(session, "|         41  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\e\r");
  at = WaitFor(session, "|         42  |", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  // A statement being typed is replaced by what the editor saved, and goes on to its end.
  Type(session, "select 'typed'\r\\e\r");
  at = WaitFor(session, "select 'edited'", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "as w;\r");
  at = WaitFor(session, "| edited ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "\\watch 0.2\r");
  const std::string every = " (every 0.2s)\r\n\r\n";
  size_t first = WaitFor(session, every, at);
  ASSERT_NE(first, std::string::npos) << session.screen.substr(at);
  size_t second = WaitFor(session, every, first);
  ASSERT_NE(second, std::string::npos) << session.screen.substr(at);
  EXPECT_NE(session.screen.substr(first, second - first).find("| edited "), std::string::npos);
  // The heading is the time: a year and a clock.
  size_t headingEnd = first - every.size();
  size_t headingStart = session.screen.rfind('\n', headingEnd) + 1;
  std::string heading = session.screen.substr(headingStart, headingEnd - headingStart);
  EXPECT_NE(heading.find(':'), std::string::npos) << heading;
  EXPECT_NE(heading.find(" 20"), std::string::npos) << heading;
  Type(session, kCtrlC);
  at = WaitFor(session, kPrompt, second);
  ASSERT_NE(at, std::string::npos) << session.screen.substr(second);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select 'after' as x;\r");
  EXPECT_NE(WaitFor(session, "| after ", at), std::string::npos) << session.screen.substr(second);
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace

namespace {

// A Tab whose catalog read meets a lock another connection holds gives the line back at once, without its
// names; once the lock is gone the next Tab completes.
TEST_F(LineEditorTest, CompletionDoesNotWaitOnALockHeldElsewhere) {
  TerminalSession session = StartOnTerminal({conn}, 24, 100);
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  {
    HeldSession lock(conn, {"begin exclusive", "insert into people values(1, 'locked')"});
    ASSERT_EQ(lock.failure, "");
    Type(session, "select * from peo\t");
    usleep(100000);
    Type(session, "Z");
    at = WaitFor(session, "Z", at, 5);
    ASSERT_NE(at, std::string::npos) << session.screen;
    EXPECT_EQ(session.screen.find("people"), std::string::npos) << session.screen;
  }
  Type(session, kBackspace + "\t");
  at = WaitFor(session, "ple ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\r");
  EXPECT_NE(WaitFor(session, "| id ", at), std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace
