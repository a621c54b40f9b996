// The session's variables (\set, -v) and their substitution into statements: :NAME, :'NAME' and :"NAME".
#include "session/variables.h"

#include <cstring>
#include <vector>

#include "display/output.h"

namespace {

bool IsNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c >= 0x80;
}

// The length of the name that starts at text[at], 0 when none does (a digit cannot start one).
size_t NameLength(std::string_view text, size_t at) {
  if (at >= text.size() || (text[at] >= '0' && text[at] <= '9')) return 0;
  size_t end = at;
  while (end < text.size() && IsNameByte(static_cast<unsigned char>(text[end]))) ++end;
  return end - at;
}

// One reference found in a text: where it stands and what replaces it.
struct Replacement {
  size_t begin;             // where the ':' stands
  size_t end;               // just past the reference
  std::string replacement;  // the value, quoted as the reference asks
};

// Reads the reference to a set variable at text[colon] (a ':' not beside another); returns false when
// there is none. fQuoted is false when the data source has no quote character for a :"NAME" found.
bool ReadReference(const Variables& variables, std::string_view text, size_t colon, const QuotingRules& rules,
                   Replacement* found, bool* fNoQuote) {
  if (colon > 0 && text[colon - 1] == ':') return false;
  size_t at = colon + 1;
  if (at >= text.size() || text[at] == ':') return false;
  char quote = text[at] == '\'' || text[at] == '"' ? text[at] : '\0';
  size_t nameAt = quote != '\0' ? at + 1 : at;
  size_t len = NameLength(text, nameAt);
  if (len == 0) return false;
  size_t end = nameAt + len;
  if (quote != '\0') {
    if (end >= text.size() || text[end] != quote) return false;
    ++end;
  }
  auto value = variables.values.find(std::string(text.substr(nameAt, len)));
  if (value == variables.values.end()) return false;  // an unset name stays as written
  found->begin = colon;
  found->end = end;
  if (quote == '\'') {
    found->replacement = QuotedLiteral(value->second, rules);
  } else if (quote == '"') {
    if (rules.identifierQuote == '\0' || rules.identifierQuote == ' ') {
      *fNoQuote = true;
      return false;
    }
    found->replacement = QuotedIdentifier(value->second, rules);
  } else {
    found->replacement = value->second;
  }
  return true;
}

// What a scan of a statement's top-level runs gathers.
struct ReferenceScan {
  const Variables* variables;         // the values
  const QuotingRules* rules;          // how they are quoted
  std::string_view text;              // the statement
  std::vector<Replacement> found;     // the references, in order
  bool fNoQuote = false;              // a :"NAME" needs a quote character the data source lacks
};

void FindReferencesInRun(void* context, size_t begin, size_t end) {
  ReferenceScan& scan = *static_cast<ReferenceScan*>(context);
  for (size_t at = begin; at < end; ++at) {
    const void* colon = memchr(scan.text.data() + at, ':', end - at);
    if (colon == nullptr) return;
    at = static_cast<size_t>(static_cast<const char*>(colon) - scan.text.data());
    // A reference found before this run's end but reaching past it (:'NAME') is taken whole.
    if (!scan.found.empty() && at < scan.found.back().end) continue;
    Replacement replacement;
    if (ReadReference(*scan.variables, scan.text, at, *scan.rules, &replacement, &scan.fNoQuote)) {
      at = replacement.end - 1;
      scan.found.push_back(std::move(replacement));
    }
  }
}

// The text with each replacement made.
std::string Replaced(std::string_view text, const std::vector<Replacement>& found) {
  std::string result;
  size_t from = 0;
  for (const Replacement& replacement : found) {
    result.append(text.data() + from, replacement.begin - from);
    result += replacement.replacement;
    from = replacement.end;
  }
  result.append(text.data() + from, text.size() - from);
  return result;
}

}  // namespace

bool IsVariableName(std::string_view name) { return !name.empty() && NameLength(name, 0) == name.size(); }

void SetVariable(Variables& variables, const std::string& name, std::string value) {
  variables.values[name] = std::move(value);
}

void UnsetVariable(Variables& variables, const std::string& name) { variables.values.erase(name); }

void ListVariables(const Variables& variables) {
  std::string text;
  for (const auto& variable : variables.values) {
    text += variable.first + " = '" + variable.second + "'\n";
  }
  OutWrite(text.data(), text.size());
}

std::string QuotedLiteral(std::string_view value, const QuotingRules& rules) {
  std::string literal = "'";
  for (char c : value) {
    if (c == '\'' || (c == '\\' && rules.fBackslashEscapes)) literal += c;
    literal += c;
  }
  return literal + "'";
}

std::string QuotedIdentifier(std::string_view value, const QuotingRules& rules) {
  // SQL Server's '[' closes with ']'; every other quote closes with itself.
  char open = rules.identifierQuote;
  char close = open == '[' ? ']' : open;
  std::string name(1, open);
  for (char c : value) {
    if (c == close) name += c;
    name += c;
  }
  return name + close;
}

bool SubstituteVariables(const Variables& variables, const StatementSplitter& like, const QuotingRules& rules,
                         std::string* statement, std::string* szError) {
  if (variables.values.empty() || statement->find(':') == std::string::npos) return true;
  ReferenceScan scan{&variables, &rules, *statement, {}, false};
  ForEachTopLevelRun(like, *statement, &scan, FindReferencesInRun);
  if (scan.fNoQuote) {
    *szError = "the data source has no quote character for names: :\"NAME\" cannot be replaced";
    return false;
  }
  if (!scan.found.empty()) *statement = Replaced(*statement, scan.found);
  return true;
}

std::string SubstituteInText(const Variables& variables, std::string_view text, const QuotingRules& rules) {
  ReferenceScan scan{&variables, &rules, text, {}, false};
  FindReferencesInRun(&scan, 0, text.size());
  return Replaced(text, scan.found);
}
