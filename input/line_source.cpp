// The sources lines come from: reading a line from the editor, standard input or an SQL file.
#include "input/line_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include "input/interrupt.h"
#include "input/line_editor.h"

namespace {

// Reads a line of an SQL file; Ctrl-C ends a read that waits (a FIFO whose writer is slow).
InputResult ReadFileLine(LineSource& source, std::string& line, bool* fNewline) {
  line.clear();
  ReaderRead read = ReadReaderLine(source.file, line, fNewline);
  if (read == ReaderRead::Interrupted) return InputResult::Interrupted;
  if (read == ReaderRead::Line) return InputResult::Line;
  if (source.file.readErrno != 0) {
    // What was read so far is not run: its end may be missing.
    std::string place = source.fNamesLines ? source.name + ":" + std::to_string(source.pieceLine) + ": " : "";
    ErrFormat("%sstatement not run: reading the file failed: %s\n", place.c_str(), strerror(source.file.readErrno));
    source.fReadFailed = true;
  }
  return InputResult::End;
}

// Reads the next line of a -c text.
InputResult ReadTextLine(LineSource& source, std::string& line, bool* fNewline) {
  if (source.textRead >= source.text.size()) return InputResult::End;
  size_t end = source.text.find('\n', source.textRead);
  *fNewline = end != std::string::npos;
  if (end == std::string::npos) end = source.text.size();
  line.assign(source.text, source.textRead, end - source.textRead);
  source.textRead = end + 1;
  return InputResult::Line;
}

}  // namespace

LineSource::~LineSource() {
  if (file.fd >= 0) close(file.fd);
}

int OpenSqlFile(const char* szPath) {
  SetReadsInterruptible(true);
  int fd = open(szPath, O_RDONLY | O_CLOEXEC);
  int openErrno = errno;
  SetReadsInterruptible(false);
  errno = openErrno;
  if (fd < 0) return -1;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

InputResult ReadSourceLine(LineSource& source, Input& input, std::deque<std::string>& linesAhead, const char* prompt,
                           std::string& line, bool* fNewline) {
  *fNewline = true;
  InputResult read = InputResult::Line;
  bool fScript = source.kind == SourceKind::File || source.kind == SourceKind::Text;
  if (!fScript && !linesAhead.empty()) {
    // A line typed or pasted at a pause, kept whole: it shows after its prompt as if typed now.
    line = std::move(linesAhead.front());
    linesAhead.pop_front();
    if (source.kind == SourceKind::Editor) OutText(prompt);
    if (source.fInteractive) {
      OutText(line.c_str());
      OutWrite("\n", 1);
    }
  } else if (source.kind == SourceKind::Editor) {
    read = EditLine(prompt, line);
  } else if (source.kind == SourceKind::Input) {
    read = ReadInputLine(input, line);
  } else if (source.kind == SourceKind::Text) {
    read = ReadTextLine(source, line, fNewline);
  } else {
    read = ReadFileLine(source, line, fNewline);
  }
  if (read == InputResult::Line) ++source.lineNumber;
  return read;
}
