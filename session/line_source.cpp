// The sources lines come from: reading a line from the editor, standard input or an SQL file.
#include "session/line_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>

#include "session/input.h"
#include "session/line_editor.h"

namespace {

InputResult ReadFileLine(LineSource& source, std::string& line, bool* fNewline) {
  errno = 0;
  ssize_t length = getline(&source.getlineBuffer, &source.getlineCapacity, source.file);
  if (length < 0) {
    if (errno == ENOMEM) throw std::bad_alloc();  // main ends the session
    if (ferror(source.file)) {
      // What was read so far is not run: its end may be missing.
      ErrFormat("statement not run: reading the file failed: %s\n", strerror(errno));
      source.fReadFailed = true;
    }
    return InputResult::End;
  }
  *fNewline = length > 0 && source.getlineBuffer[length - 1] == '\n';
  line.assign(source.getlineBuffer, static_cast<size_t>(length) - (*fNewline ? 1 : 0));
  return InputResult::Line;
}

}  // namespace

LineSource::~LineSource() {
  if (file != nullptr) fclose(file);
  free(getlineBuffer);
}

FILE* OpenSqlFile(const char* szPath) {
  FILE* file = fopen(szPath, "r");
  if (file == nullptr) return nullptr;
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

InputResult ReadSourceLine(LineSource& source, std::deque<std::string>& linesAhead, const char* prompt,
                           std::string& line, bool* fNewline) {
  *fNewline = true;
  InputResult read = InputResult::Line;
  if (source.kind != SourceKind::File && !linesAhead.empty()) {
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
    read = ReadInputLine(line);
  } else {
    read = ReadFileLine(source, line, fNewline);
  }
  if (read == InputResult::Line) ++source.lineNumber;
  return read;
}
