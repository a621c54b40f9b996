// The terminal as a console: the highlight of header, end bar and paging prompt, and the page height.
#pragma once

#include <sql.h>

// Rows of the terminal window, used for paging; 80 until a terminal's size has been read.
extern SQLSMALLINT gScreenRows;

// Columns of the terminal window, read with gScreenRows; 0 until a terminal's size has been read.
extern int gScreenColumns;

// Switches the highlight on or off for the text written after it, and reads the window's row count into
// gScreenRows. Does nothing unless standard output is a terminal whose size can be read. A terminal cannot
// be widened: `width` is taken and a wider line wraps. Returns nothing.
void HighlightConsole(int width, bool on);

// Reads the window's size into gScreenRows and gScreenColumns when standard output is a terminal whose
// size can be read, and returns its columns; returns 0 otherwise.
int ReadWindowSize();
