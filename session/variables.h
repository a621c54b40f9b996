// The session's variables (\set, -v) and their substitution into statements: :NAME, :'NAME' and :"NAME".
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "input/statement_splitter.h"

// The variables of a session, by name.
struct Variables {
  std::map<std::string, std::string> values;  // each variable's value, in the order of their names
};

// How a value goes into a statement as a literal or a name, by the data source's rules.
struct QuotingRules {
  bool fBackslashEscapes = false;  // a backslash in '...' escapes: it is doubled too
  char identifierQuote = '"';      // the data source's identifier quote character; '\0' when it has none
};

// True for a name a variable may have: letters, digits and '_' (bytes of UTF-8 letters too), not a digit first.
bool IsVariableName(std::string_view name);

// Sets, lists (as "NAME = 'VALUE'" lines on standard output) and removes variables.
void SetVariable(Variables& variables, const std::string& name, std::string value);
void UnsetVariable(Variables& variables, const std::string& name);
void ListVariables(const Variables& variables);

// A text as an SQL string literal (quotes doubled, and backslashes where they escape), and as a quoted name.
std::string QuotedLiteral(std::string_view value, const QuotingRules& rules);
std::string QuotedIdentifier(std::string_view value, const QuotingRules& rules);

// Replaces, in a statement outside every quote, comment and body (as the splitter `like` reads them),
// :NAME by the value, :'NAME' by it as a literal and :"NAME" as a quoted name. "::" is never a reference,
// and an unset name stays as written. Returns false, with *szError set, when a name must be quoted and the
// data source has no quote character; *statement is then unchanged. Leaves *statement as it is when
// nothing is replaced.
bool SubstituteVariables(const Variables& variables, const StatementSplitter& like, const QuotingRules& rules,
                         std::string* statement, std::string* szError);

// Replaces :NAME, :'NAME' and :"NAME" anywhere in a console command's text (\echo).
std::string SubstituteInText(const Variables& variables, std::string_view text, const QuotingRules& rules);
