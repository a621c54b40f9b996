// The terminal as a console: the highlight of header, end bar and paging prompt, and the window's size.
#include "display/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "display/output.h"

namespace {
constexpr char HIGHLIGHT_ON[] = "\x1b[44m";   // blue background over the current colours
constexpr char HIGHLIGHT_OFF[] = "\x1b[49m";  // back to the default background
constexpr int MAX_ROWS = 32767;               // more rows than any page needs
}  // namespace

void HighlightConsole(int width, bool on) {
  (void)width;
  if (!OutputIsTerminal()) return;  // a file or a pipe (\o too) never becomes a terminal
  // The switch goes through the same buffer as the text, so it falls exactly between the pieces it separates.
  if (on) {
    OutWrite(HIGHLIGHT_ON, sizeof HIGHLIGHT_ON - 1);
  } else {
    OutWrite(HIGHLIGHT_OFF, sizeof HIGHLIGHT_OFF - 1);
  }
}

int ReadWindowSize(WindowSize* window) {
  if (!OutputIsTerminal()) return 0;  // results written to a file by \o fit no window
  struct winsize size = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;  // not a terminal: nothing changes
  if (size.ws_row > 0) window->rows = size.ws_row > MAX_ROWS ? MAX_ROWS : size.ws_row;
  window->columns = size.ws_col;
  return size.ws_col;
}
