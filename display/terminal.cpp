// The terminal as a console: the highlight of header, end bar and paging prompt, and the page height.
#include "display/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "display/output.h"

SQLSMALLINT gScreenRows = 80;
int gScreenColumns = 0;

namespace {
constexpr char HIGHLIGHT_ON[] = "\x1b[44m";   // blue background over the current colours
constexpr char HIGHLIGHT_OFF[] = "\x1b[49m";  // back to the default background
}  // namespace

void HighlightConsole(int width, bool on) {
  (void)width;
  if (!StdoutIsTerminal()) return;  // a file or a pipe never becomes a terminal
  struct winsize window = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) != 0) return;  // not a terminal: nothing changes
  if (window.ws_row > 0) gScreenRows = static_cast<SQLSMALLINT>(window.ws_row > 32767 ? 32767 : window.ws_row);
  gScreenColumns = window.ws_col;
  // The switch goes through the same buffer as the text, so it falls exactly between the pieces it separates.
  if (on) {
    OutWrite(HIGHLIGHT_ON, sizeof HIGHLIGHT_ON - 1);
  } else {
    OutWrite(HIGHLIGHT_OFF, sizeof HIGHLIGHT_OFF - 1);
  }
}

int ReadWindowSize() {
  if (!StdoutIsTerminal()) return 0;
  struct winsize window = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) != 0) return 0;
  if (window.ws_row > 0) gScreenRows = static_cast<SQLSMALLINT>(window.ws_row > 32767 ? 32767 : window.ws_row);
  gScreenColumns = window.ws_col;
  return window.ws_col;
}
