// The bound columns of one result set: a buffer, an indicator and a screen width for each.
#include "display/column_bindings.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"

namespace {

constexpr int MAX_WIDTH = 32767;  // widths are 16-bit

[[noreturn]] void OutOfMemory() {
  ErrText("Out of memory!\n");
  exit(-100);
}

// Reads column iCol's name once, whose length in bytes is cchNameLength, into the record's title (cut to
// MAX_TITLE_CHARS characters) and returns the name's display columns: in a single-byte character set the
// length itself, in UTF-8 the columns of the whole name. When the name cannot be read the title is marked
// unread, and in UTF-8 -1 is returned: the width then comes from the display size.
int ReadColumnName(SQLHSTMT lpStmt, SQLUSMALLINT iCol, SQLSMALLINT cchNameLength, ColumnBinding* lpBinding) {
  // Room for the whole name, so its columns can be counted, and at least for a whole title.
  size_t cbName = static_cast<size_t>(cchNameLength > 0 ? cchNameLength : 0) + 1;
  if (cbName < sizeof lpBinding->szTitle) cbName = sizeof lpBinding->szTitle;
  if (cbName > MAX_WIDTH) cbName = MAX_WIDTH;
  std::string szName(cbName, '\0');
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT,
                   SQLColAttribute(lpStmt, iCol, SQL_DESC_NAME, &szName[0], static_cast<SQLSMALLINT>(cbName), nullptr, nullptr),
                   "SQLColAttribute(lpStmt, iCol++, SQL_DESC_NAME, szTitle, sizeof(szTitle), NULL, NULL)")) {
    return gCharset.utf8 ? -1 : cchNameLength;
  }
  size_t nameBytes = strnlen(szName.data(), cbName - 1);
  size_t titleBytes = TextPrefixBytes(szName.data(), nameBytes, MAX_TITLE_CHARS);
  memcpy(lpBinding->szTitle, szName.data(), titleBytes);
  lpBinding->szTitle[titleBytes] = '\0';
  lpBinding->fTitleRead = true;
  if (!gCharset.utf8) return cchNameLength > 0 ? cchNameLength : 0;
  return TextColumns(szName.data(), nameBytes);
}

// Sets the record's width from its display size and the columns of its name, at least MIN_COLUMN_WIDTH.
void SetColumnWidth(ColumnBinding* lpBinding, int cchName) {
  int width = lpBinding->cchDisplay > cchName ? lpBinding->cchDisplay : cchName;
  if (width < MIN_COLUMN_WIDTH) width = MIN_COLUMN_WIDTH;
  if (width > MAX_WIDTH) width = MAX_WIDTH;
  lpBinding->cchWidth = static_cast<SQLSMALLINT>(width);
}

}  // namespace

void BindResultColumns(SQLHSTMT lpStmt, SQLSMALLINT cCols, ColumnBinding** lpBindings, SQLSMALLINT* cchTotalWidth) {
  *cchTotalWidth = 0;
  *lpBindings = nullptr;
  if (cCols < 1) return;
  ColumnBinding** lpLink = lpBindings;  // where the next record is linked in
  int totalWidth = 0;
  for (SQLSMALLINT iCol = 1; iCol > 0 && iCol <= cCols; ++iCol) {
    // A record joins the list only once it is bound; a record that fails after binding is completed with
    // the width its display size gives, so the list never holds an unset width, buffer or link.
    ColumnBinding* lpThisBinding = new (std::nothrow) ColumnBinding{};
    if (lpThisBinding == nullptr) OutOfMemory();
    SQLLEN cchDisplay = 0;
    SQLLEN ssType = 0;
    bool described =
        CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLColAttribute(lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &cchDisplay),
                    "SQLColAttribute(lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &cchDisplay)") &&
        CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLColAttribute(lpStmt, iCol, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &ssType),
                    "SQLColAttribute(lpStmt, iCol, SQL_DESC_CONCISE_TYPE, NULL, 0, NULL, &ssType)");
    if (!described) {
      delete lpThisBinding;
      break;
    }
    SQLSMALLINT sqlType = static_cast<SQLSMALLINT>(ssType);
    lpThisBinding->fCharType = sqlType == SQL_CHAR || sqlType == SQL_VARCHAR || sqlType == SQL_LONGVARCHAR;
    lpThisBinding->lpNext = nullptr;
    // A size the driver cannot tell (SQL_NO_TOTAL) or gives as negative counts as the largest shown.
    if (cchDisplay > MAX_COLUMN_CHARS || cchDisplay < 0) cchDisplay = MAX_COLUMN_CHARS;
    lpThisBinding->cchDisplay = static_cast<SQLSMALLINT>(cchDisplay);
    // Only text is cut at its display size: a number, date or binary value cut short would look right
    // and be wrong, so every other type is read up to MAX_COLUMN_CHARS and may widen its cell.
    lpThisBinding->cchValueChars = lpThisBinding->fCharType ? lpThisBinding->cchDisplay : MAX_COLUMN_CHARS;
    // In UTF-8 a character takes up to 4 bytes: the buffer holds cchValueChars characters whatever they are.
    lpThisBinding->cbBuffer = (gCharset.utf8 ? 4 * lpThisBinding->cchValueChars : lpThisBinding->cchValueChars) + 1;
    lpThisBinding->szBuffer = static_cast<SQLCHAR*>(malloc(static_cast<size_t>(lpThisBinding->cbBuffer)));
    if (lpThisBinding->szBuffer == nullptr) OutOfMemory();
    lpThisBinding->szBuffer[0] = '\0';
    lpThisBinding->indPtr = SQL_NULL_DATA;
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT,
                     SQLBindCol(lpStmt, iCol, SQL_C_CHAR, lpThisBinding->szBuffer, lpThisBinding->cbBuffer, &lpThisBinding->indPtr),
                     "SQLBindCol(lpStmt, iCol, SQL_C_TCHAR, (SQLPOINTER) lpThisBinding->szBuffer, (cchDisplay + 1) * "
                     "sizeof(TCHAR), &lpThisBinding->indPtr)")) {
      free(lpThisBinding->szBuffer);
      delete lpThisBinding;
      break;
    }
    *lpLink = lpThisBinding;
    lpLink = &lpThisBinding->lpNext;
    SQLSMALLINT cchColumnNameLength = 0;
    bool named = CheckedCall(lpStmt, SQL_HANDLE_STMT,
                             SQLColAttribute(lpStmt, iCol, SQL_DESC_NAME, nullptr, 0, &cchColumnNameLength, nullptr),
                             "SQLColAttribute(lpStmt, iCol, SQL_DESC_NAME, NULL, 0, &cchColumnNameLength, NULL)");
    // The title is read here, once: some drivers answer a name request by scanning the rows they hold,
    // and the header is printed again at every page.
    int cchName = named ? ReadColumnName(lpStmt, iCol, cchColumnNameLength, lpThisBinding) : -1;
    SetColumnWidth(lpThisBinding, cchName);
    totalWidth += lpThisBinding->cchWidth + COLUMN_EXTRA;
    // A line is cchTotalWidth + 2 wide and must stay within 16 bits.
    if (totalWidth > MAX_WIDTH - 2) totalWidth = MAX_WIDTH - 2;
    *cchTotalWidth = static_cast<SQLSMALLINT>(totalWidth);
    if (!named) break;
  }
}

void ReleaseColumnBindings(SQLHSTMT lpStmt, ColumnBinding** lpBindings) {
  if (*lpBindings == nullptr) return;
  // The statement must not keep pointers into the buffers freed below. Should unbinding fail, the buffers
  // are kept rather than left for a later fetch to write into.
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_UNBIND), "SQLFreeStmt(lpStmt,SQL_UNBIND)")) {
    *lpBindings = nullptr;
    return;
  }
  while (*lpBindings != nullptr) {
    ColumnBinding* lpNext = (*lpBindings)->lpNext;
    free((*lpBindings)->szBuffer);
    delete *lpBindings;
    *lpBindings = lpNext;
  }
}
