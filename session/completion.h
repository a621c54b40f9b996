// Tab completion: SQL keywords and the names of the data source's tables, views and columns.
#pragma once

#include <string>
#include <vector>

#include "odbc/odbc_api.h"

// Sets the connection whose catalog is read, through a statement handle of its own, at the first Tab.
void SetCompletionConnection(SQLHDBC lpDbc);

// Returns the completions of `prefix`: keywords in the case the prefix is typed in, then table, view and
// column names as the catalog spells them; each once, in that order.
std::vector<std::string> CompletionsOf(const std::string& prefix);
