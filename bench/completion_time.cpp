// The completion benchmark's driver: times the first Tab (nothing read yet) for a few lines on one data source.
// Usage: completion_time CONNECTION-STRING RUNS
// Prints one line per case: the case, the median milliseconds of the first Tab over RUNS fresh starts, and
// how many completions it found.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/completion.h"

namespace {

// A line to complete at its end, and what it stands for.
struct CompletionCase {
  const char* name;  // what the case shows
  const char* line;  // the typed line; the word completed runs from the last blank or dot to its end
};

constexpr CompletionCase CASES[] = {
    {"tables after FROM", "select * from t1"},
    {"columns, no table named", "select col_b"},
    {"columns of the table named", "select * from t1234 where "},
    {"keywords (no catalog read)", "sel"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s CONNECTION-STRING RUNS\n", argv[0]);
    return 2;
  }
  Output output;
  InitOutput(output);
  LocaleCharset();
  int runs = std::max(1, atoi(argv[2]));
  Connection connection;
  CompletionCatalog catalog;
  AllocateEnvironment(connection);
  if (!Connect(connection, argv[1])) return 1;
  for (const CompletionCase& test : CASES) {
    std::string line = test.line;
    size_t wordStart = line.find_last_of(" .") + 1;
    std::vector<double> times;
    size_t found = 0;
    for (int run = 0; run < runs; ++run) {
      SetCompletionConnection(catalog, &connection);  // forgets what was read: every run is a first Tab
      auto start = std::chrono::steady_clock::now();
      found = CompletionsAt(catalog, line, wordStart, line.size()).texts.size();
      times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    printf("  %-30s %8.1f ms  (%zu completions)\n", test.name, times[times.size() / 2], found);
  }
  return 0;
}
