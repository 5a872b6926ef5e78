// measure: runs one command and appends what it cost to a result file, one line per run:
//
//   <wall seconds> <user seconds> <system seconds> <peak RSS KiB> <exit status>
//
//   measure RESULT_FILE COMMAND [ARGUMENT...]
//
// The command inherits standard input, output and error, so the caller redirects them. Wall time
// is taken on the monotonic clock from just before fork to just after wait4; CPU time and peak
// RSS are the kernel's rusage of the child (and of any descendants it waited for). An exit
// status of 128+N means signal N; 127 means the command could not be started.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double Seconds(const timespec& t) {
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}
double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure RESULT_FILE COMMAND [ARGUMENT...]\n");
    return 2;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("measure: fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror("measure: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("measure: wait4");
    return 2;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* out = std::fopen(argv[1], "a");
  if (out == nullptr) {
    std::perror("measure: result file");
    return 2;
  }
  std::fprintf(out, "%.6f %.6f %.6f %ld %d\n", Seconds(end) - Seconds(start),
               Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss, code);
  std::fclose(out);
  return 0;
}
