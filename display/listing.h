// How result sets are listed (table, CSV or TSV) and the writers that list them from the result-set record.
#pragma once

#include <string>

#include "display/output.h"
#include "display/result_set.h"
#include "session/options.h"

// How a result set is listed; fixed for the session.
struct ListingStyle {
  ListingFormat format;  // table, CSV or TSV
  bool fPaging;          // pause after every screenful and read a reply
  bool fHighlight;       // highlight header, end bar and pause prompt on a terminal
  bool fGetDataOnBound;  // the driver reads a bound column again with SQLGetData (SQL_GD_BOUND)
  bool fSizesHold;       // the data source keeps every value within its column's display size
  InputResult (*ReadReply)(std::string& reply);  // reads the reply at a pause; null: no reply comes
};

// The console's own listing: a highlighted table that pauses.
constexpr ListingStyle CONSOLE_LISTING = {ListingFormat::Table, true, true, false, false, nullptr};

// Lists the rows of a described result set as CSV or TSV, as the style says: binds the columns, writes the
// header line of names, then every row with each value whole. Returns false when a call failed.
bool ListDelimited(ResultSet& set, const ListingStyle& style);
