// End-to-end tests on Access files through the MDBTools driver, a driver that implements little.
#include <gtest/gtest.h>

#include "console_runner.h"

namespace {

const std::string kPrompt = "SQL COMMAND>";

// The connection string of one of the test files in tests/data/access.
std::string AccessConnStr(const std::string& file) { return "Driver=MDBTools;DBQ=" ACCESS_DATA_DIR "/" + file; }

// The driver's own leaks, for the sanitizer build.
const std::string kLeakSuppressions = "LSAN_OPTIONS=suppressions=" MDBTOOLS_LSAN_SUPPRESSIONS ":print_suppressions=0";

// Runs the console on an Access file in a UTF-8 locale, its two streams apart.
ConsoleResult RunOnAccess(const std::string& file, const std::vector<std::string>& options, const std::string& input) {
  ConsoleOptions utf8;
  utf8.locale = "C.UTF-8";
  utf8.extraEnv.push_back(kLeakSuppressions);
  std::vector<std::string> args = options;
  args.push_back(AccessConnStr(file));
  return RunConsole(args, input, utf8);
}

// Scripts of good statements on each of the three file formats (Jet 3, Jet 4, ACE 12) list their rows and
// exit 0 with nothing on standard error, though the driver has no SQLMoreResults, no rowsets and few of
// the SQLGetInfo answers.
TEST(Access, ScriptsOnEveryFormatListTypesMoneyAndDatesQuietlyAndExitZero) {
  ConsoleResult run = RunOnAccess("nwind.mdb", {"-b"},
                                  "select OrderID, CustomerID, OrderDate, Freight from Orders where OrderID = 10248\n"
                                  "select ProductName, UnitPrice, Discontinued from Products where ProductID = 1\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Numbers and money right-aligned, text left-aligned, dates whole.
  EXPECT_NE(run.out.find("│       10248 │ VINET      │  1994-08-04 00:00:00 │               32.3800  │"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("│ Chai  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("18.0000 │"), std::string::npos) << run.out;

  run = RunOnAccess("date.mdb", {"-b", "-e"}, "select IDCol, DateTimeCol, ShortTextCol from DateTest where IDCol = 1\n"
                                              "select count(*) from DateTest\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("2021-12-02 00:00:00 │ Hello"), std::string::npos) << run.out;

  // A name with blanks in brackets, as Access writes it.
  run = RunOnAccess("sample.accdb", {"-b", "-e"},
                    "select [Asset No], Make, Cost, Acquired from [Asset Items] where [Asset No] = '30050'\n"
                    "select Make from [Asset Items] where [Asset No] = '30052'\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("│ 30050      │ GEO Rocket   "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("│             1995.5000 │  1997-09-02 00:00:00  │"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("│ FurnTown "), std::string::npos) << run.out;
}

// CSV holds a value with CR/LF whole, quoted; a table whose name is not ASCII is read by its name.
TEST(Access, CsvKeepsLineBreaksWholeAndANonAsciiTableIsRead) {
  ConsoleResult run = RunOnAccess("nwind.mdb", {"--csv"},
                                  "select SupplierID, Address from Suppliers where SupplierID = 4\n"
                                  "select OrderID, ShipCity from Umsätze where OrderID = 10249\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "SupplierID,Address\n4,\"9-8 Sekimai\r\nMusashino-shi\"\n"
            "OrderID,ShipCity\n10249,Münster\n");
}

// At a terminal a CR/LF in a value shows as "??", a long listing pauses a screenful at a time, and Ctrl-C at
// a pause stops it; the session goes on, with no message about what the driver lacks.
TEST(Access, TerminalShowsLineBreaksAsQuestionMarksPagesAndStopsAtCtrlC) {
  TerminalSession session = StartOnTerminal({AccessConnStr("nwind.mdb")}, 24, 120, "C.UTF-8", {kLeakSuppressions});
  size_t at = WaitFor(session, kPrompt);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select SupplierID, Address from Suppliers where SupplierID = 4\r");
  at = WaitFor(session, "│ 9-8 Sekimai??Musashino-shi ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select OrderID from Orders\r");
  at = WaitFor(session, "Press ENTER to continue, Q to quit", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\r");
  at = WaitFor(session, "Press ENTER to continue, Q to quit", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "\x03");
  at = WaitFor(session, kPrompt, at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  // Two pages of 22 rows each (the window less the header and the pause), and not a row more.
  EXPECT_NE(session.screen.find("│       10274  │"), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("│       10275  │"), std::string::npos) << session.screen;
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select count(*) from Shippers\r");
  at = WaitFor(session, "│ 3    ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
  EXPECT_EQ(session.screen.find("IM001"), std::string::npos) << session.screen;
  EXPECT_EQ(session.screen.find("Error in"), std::string::npos) << session.screen;
}

// The catalog commands on a driver that implements little: \conninfo answers, \dt lists the user's tables
// (a non-ASCII name among them), \d lists a table's columns on statements of their own (the driver keeps a
// closed result's columns), and says on one line each what the driver cannot list; the script succeeds.
TEST(Access, CatalogCommandsListTablesColumnsAndTheConnection) {
  ConsoleResult run = RunOnAccess("nwind.mdb", {"-b"}, "\\conninfo\n\\dt\n\\d Customers\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "This driver cannot list primary keys.\nThis driver cannot list indexes.\n"
                     "This driver cannot list foreign keys.\n");
  EXPECT_NE(run.out.find("MDBTOOLS"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\xe2\x94\x82 Customers "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\xe2\x94\x82 Ums\xc3\xa4tze "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\xe2\x94\x82 CustomerID "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\xe2\x94\x82 CompanyName "), std::string::npos) << run.out;
}

// The driver lists every kind of table and view, whatever the type and name asked for, in its own order:
// \dt lists the user's tables alone, sorted, \dtS the system tables too, \dv a pattern's views alone.
TEST(Access, TableListingsKeepTheKindAndNamesAskedForSorted) {
  ConsoleResult run = RunOnAccess("nwind.mdb", {"--csv"}, "\\dt\n\\dtS\n\\dv Cat*\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string tables = "Categories,TABLE\nCustomers,TABLE\nEmployees,TABLE\nOrder Details,TABLE\nOrders,TABLE\n"
                             "Products,TABLE\nShippers,TABLE\nSuppliers,TABLE\nUms\xc3\xa4tze,TABLE\n";
  const std::string expected = "name,type\n" + tables + "name,type\nCategories,TABLE\nCustomers,TABLE\nEmployees,TABLE\n"
                               "MSysACEs,SYSTEM TABLE\nMSysAccessObjects,SYSTEM TABLE\nMSysCmdbars,SYSTEM TABLE\n"
                               "MSysIMEXColumns,SYSTEM TABLE\nMSysIMEXSpecs,SYSTEM TABLE\nMSysModules,SYSTEM TABLE\n"
                               "MSysModules2,SYSTEM TABLE\nMSysObjects,SYSTEM TABLE\nMSysQueries,SYSTEM TABLE\n"
                               "MSysRelationships,SYSTEM TABLE\n" + tables.substr(tables.find("Order")) +
                               "name,type\nCatalog,VIEW\nCategory Sales for 1995,VIEW\n";
  EXPECT_EQ(run.out, expected);
}

// Completion reads a table's columns on a statement of its own after reading the tables: the driver
// keeps a closed result's columns, and a second call on the same statement read the first one's.
TEST(Access, CompletionOffersColumnsAfterTables) {
  TerminalSession session = StartOnTerminal({AccessConnStr("nwind.mdb")}, 24, 120, "C.UTF-8", {kLeakSuppressions});
  size_t at = WaitFor(session, kPrompt);
  ASSERT_TRUE(WaitForEditor(session));
  Type(session, "select * from Shipp\t");
  at = WaitFor(session, "ers ", at);
  ASSERT_NE(at, std::string::npos) << session.screen;
  Type(session, "where CompanyN\t");
  at = WaitFor(session, "ame ", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  Type(session, "= 'United Package'\r");
  at = WaitFor(session, "United Package", at);
  EXPECT_NE(at, std::string::npos) << session.screen;
  EXPECT_EQ(Finish(session), 0);
}

}  // namespace
