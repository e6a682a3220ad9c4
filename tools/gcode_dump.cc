// gcode_dump Z_START HEAT_TEMP SPEED FILE [--write-per-line]
// gcode_dump Z_START HEAT_TEMP SPEED --sha256
//
// Writes the print job for the three typed texts into FILE the way the
// program does, through the output file (each received line in the file
// before its acknowledgement, FILE replaced once the job is complete), but
// with no console. --write-per-line gives each line its own write where the
// file would be mapped. With --sha256 it writes no file and prints the number of
// lines and the SHA-256 of lines 2 to the end (line 1 holds the time of
// day), which pins the job without keeping its 131 MB anywhere. For tests
// and benchmarks; the texts are taken as given.

#include <cstdio>
#include <cstring>
#include <string>

#include "channel/line_channel.h"
#include "generator/generator_thread.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "sha256.h"

static bool copy_text(char (&to)[16], const char* from) {
  if (strlen(from) >= sizeof to)
    return false;
  strcpy(to, from);
  return true;
}

static void print_file_error(const char* path, const OutputFile& file) {
  fprintf(stderr, "%s: %s\n", path, file.in_use ? "in use" : strerror(file.error));
}

int main(int argc, char** argv) {
  bool write_per_line = argc == 6 && strcmp(argv[5], "--write-per-line") == 0;
  if (argc != 5 && !write_per_line) {
    fprintf(stderr, "usage: %s Z_START HEAT_TEMP SPEED FILE [--write-per-line]|--sha256\n",
            argv[0]);
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
  static OutputFile file;
  file.write_per_line = write_per_line;
  if (!digest_only) {
    std::string path = argv[4];
    size_t slash = path.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
    const char* name = argv[4] + (slash == std::string::npos ? 0 : slash + 1);
    if (output_file_create(&file, slash == std::string::npos ? nullptr : dir.c_str(), name) != 1) {
      print_file_error(argv[4], file);
      return 1;
    }
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
    } else if (output_file_write(&file, line, n) != 1) {
      print_file_error(argv[4], file);
      output_file_discard(&file);
      return 1;
    }
    ++lines;
    channel::acknowledge(&ch);
  }
  channel::acknowledge(&ch);
  channel::shutdown(&ch);
  int generator_result = join_thread(&thread);
  if (r != RECEIVED_END || generator_result != 0) {
    output_file_discard(&file);
    fprintf(stderr, "gcode_dump: the generator stopped early\n");
    return 1;
  }
  if (!digest_only && (output_file_flush(&file) != 1 || output_file_commit(&file) != 1)) {
    print_file_error(argv[4], file);
    output_file_discard(&file);
    return 1;
  }
  if (digest_only)
    printf("%lu %s\n", lines, sha256_hex(&digest).c_str());
  else
    printf("%lu lines\n", lines);
  return 0;
}
