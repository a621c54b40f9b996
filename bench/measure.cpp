// Runs one command with standard input and output taken from files, and prints its wall time in seconds
// and its peak resident memory in KiB. Usage: measure INPUT-FILE OUTPUT-FILE COMMAND [ARGUMENT...]
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s INPUT-FILE OUTPUT-FILE COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(argv[1], O_RDONLY);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || null < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(null, 2);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  rusage usage = {};
  wait4(pid, &status, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &end);
  double seconds = static_cast<double>(end.tv_sec - start.tv_sec) + static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  printf("%.4f %ld\n", seconds, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
