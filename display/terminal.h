// The terminal as a console: the highlight of header, end bar and paging prompt, and the window's size.
#pragma once

// The terminal window's size as last read.
struct WindowSize {
  int rows = 80;    // rows, used for paging; 80 until a terminal's size has been read
  int columns = 0;  // columns; 0 until a terminal's size has been read
};

// Switches the highlight on or off for the text written after it. Does nothing unless standard output is a
// terminal. A terminal cannot be widened: `width` is taken and a wider line wraps. Returns nothing.
void HighlightConsole(int width, bool on);

// Reads the window's size into *window when standard output is a terminal whose size can be read, and
// returns its columns; otherwise leaves *window as it is and returns 0. The pager calls it when it pages.
int ReadWindowSize(WindowSize* window);
