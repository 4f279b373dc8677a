/* Runs a command COUNT times, its output thrown away, and prints the wall
 * time of each run in milliseconds, one per line. Used inside the rig's
 * guest, whose busybox has no clock finer than 10 ms.
 * Usage: timeit COUNT PROGRAM [ARG...] */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: timeit COUNT PROGRAM [ARG...]\n");
    return 2;
  }
  int count = atoi(argv[1]);
  for (int i = 0; i < count; ++i) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    pid_t pid = fork();
    if (pid < 0) { perror("fork"); return 1; }
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) { dup2(null, 1); dup2(null, 2); }
      execv(argv[2], argv + 2);
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &b);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) {
      fprintf(stderr, "timeit: %s did not run to its end (status %d)\n", argv[2], status);
      return 1;
    }
    printf("%.1f\n", (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6);
  }
  return 0;
}
