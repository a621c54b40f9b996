// The result table: header, rows, end bar and the pause after every screenful.
#pragma once

#include "display/listing.h"

// Lists every row of the open result set `set` (not yet described) of cCols columns on standard output as
// `style` says: as a highlighted table that pauses after every screenful, as CSV or TSV, or as expanded
// records. The cursor stays open and bound; its owner releases it. With `chosen`, only those columns are
// listed, under the titles given. Returns false when a call failed on the way (its diagnostics printed),
// true otherwise, also when the user stopped the listing or standard output failed.
bool ShowResultSet(ResultSet& set, SQLSMALLINT cCols, const ListingStyle& style,
                   const std::vector<ChosenColumn>* chosen = nullptr);
