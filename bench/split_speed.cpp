// The splitter's speed: splits a whole SQL file in one go, several times, and prints the best MB/s and the
// statement count. Usage: split_speed FILE [DBMS-NAME] [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "input/statement_splitter.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE [DBMS-NAME] [RUNS]\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  const std::string text = contents.str();
  SqlDialect dialect = DialectOfDbms(argc > 2 ? argv[2] : "SQLite");
  int runs = argc > 3 ? atoi(argv[3]) : 3;
  double best = 0;
  long statements = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    StatementSplitter splitter;
    InitSplitter(splitter, dialect);
    FeedSplitter(splitter, text);
    SqlPiece piece;
    statements = 0;
    while (NextPiece(splitter, piece, true)) statements += piece.kind == PieceKind::Statement;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double rate = static_cast<double>(text.size()) / 1e6 / seconds;
    if (rate > best) best = rate;
  }
  printf("%.1f %ld\n", best, statements);
  return 0;
}
