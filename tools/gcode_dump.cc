// gcode_dump Z_START HEAT_TEMP SPEED FILE
// gcode_dump Z_START HEAT_TEMP SPEED --sha256
//
// Writes the print job for the three typed texts into FILE the way the
// program does, one write per received line before its acknowledgement, but
// with no console. With --sha256 it writes no file and prints the number of
// lines and the SHA-256 of lines 2 to the end (line 1 holds the time of
// day), which pins the job without keeping its 131 MB anywhere. For tests
// and benchmarks; the texts are taken as given.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "channel/line_channel.h"
#include "generator/generator_thread.h"
#include "platform/thread.h"
#include "sha256.h"

static bool copy_text(char (&to)[16], const char* from) {
  if (strlen(from) >= sizeof to)
    return false;
  strcpy(to, from);
  return true;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s Z_START HEAT_TEMP SPEED FILE|--sha256\n", argv[0]);
    return 2;
  }
  static TypedValues typed;
  if (!copy_text(typed.z_start, argv[1]) || !copy_text(typed.heat_temp, argv[2]) ||
      !copy_text(typed.speed, argv[3])) {
    fprintf(stderr, "gcode_dump: a typed text has at most 15 characters\n");
    return 2;
  }
  bool digest_only = strcmp(argv[4], "--sha256") == 0;
  Sha256 digest;
  sha256_init(&digest);
  int fd = digest_only ? -1 : open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!digest_only && fd < 0) {
    perror(argv[4]);
    return 1;
  }
  static LineChannel ch;
  static GeneratorThread generator;
  generator.typed = &typed;
  generator.channel = &ch;
  Thread thread;
  if (channel::listen(&ch) != 1 || start_thread(&thread, generator_thread_main, &generator) != 1 ||
      channel::accept(&ch) != 1) {
    fprintf(stderr, "gcode_dump: the generator did not start\n");
    return 1;
  }
  char line[LINE_BUFFER_SIZE] = {};
  size_t n = 0;
  unsigned long lines = 0;
  ReceiveResult r;
  while ((r = channel::receive_line(&ch, line, &n)) == RECEIVED_LINE) {
    if (digest_only) {
      if (lines > 0)
        sha256_update(&digest, line, n);
    } else if (write(fd, line, n) != static_cast<ssize_t>(n)) {
      perror(argv[4]);
      return 1;
    }
    ++lines;
    channel::acknowledge(&ch);
  }
  channel::acknowledge(&ch);
  channel::shutdown(&ch);
  int generator_result = join_thread(&thread);
  if (!digest_only)
    close(fd);
  if (r != RECEIVED_END || generator_result != 0) {
    fprintf(stderr, "gcode_dump: the generator stopped early\n");
    return 1;
  }
  if (digest_only)
    printf("%lu %s\n", lines, sha256_hex(&digest).c_str());
  else
    printf("%lu lines\n", lines);
  return 0;
}
