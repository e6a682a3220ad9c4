#include "frontend/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include <string>
#include <vector>

#include "frontend/dialogue.h"
#include "test_support.h"

namespace {

TEST(CommandLine, ReadsEachKindOfArgumentList) {
  struct Case {
    std::vector<const char*> args;  // after the program's name
    CommandLineAction action;
    // RUN_WITH_VALUES: the three texts; CHECK_FILE: the file;
    // COMMAND_LINE_ERROR: what the message must hold (the argument it
    // names).
    const char* z_start_or_named;
    const char* heat_temp = "";
    const char* speed = "";
    int resume_piece = 0;  // RESUME_JOB: the point as read
    int64_t resume_z = 0;
  } cases[] = {
      // Valid: both forms, any order, texts kept exactly as given.
      {{"--z-start=0.4", "--heat-temp=210", "--speed=300"}, RUN_WITH_VALUES, "0.4", "210", "300"},
      {{"--speed", "0000300", "--z-start", "-12.5", "--heat-temp", "170"},
       RUN_WITH_VALUES,
       "-12.5",
       "170",
       "0000300"},
      {{"--z-start=", "--heat-temp=270", "--speed=80"}, RUN_WITH_VALUES, "", "270", "80"},
      {{"--z-start", "-", "--heat-temp=270", "--speed=600"}, RUN_WITH_VALUES, "-", "270", "600"},
      {{"--z-start=1-2", "--heat-temp=200", "--speed=400"}, RUN_WITH_VALUES, "1-2", "200", "400"},
      {{}, RUN_DIALOGUE, ""},
      // Invalid values: out of range, a character the field drops or
      // refuses, a tenth character.
      {{"--z-start=200.5", "--heat-temp=210", "--speed=300"}, COMMAND_LINE_ERROR, "\"200.5\""},
      {{"--z-start=0.4", "--heat-temp=210", "--speed=700"}, COMMAND_LINE_ERROR, "\"700\""},
      {{"--z-start=0.4", "--heat-temp", "210.5", "--speed=300"}, COMMAND_LINE_ERROR, "\"210.5\""},
      {{"--z-start=1e2", "--heat-temp=210", "--speed=300"}, COMMAND_LINE_ERROR, "\"1e2\""},
      {{"--z-start=0.40000000001", "--heat-temp=210", "--speed=300"},
       COMMAND_LINE_ERROR,
       "\"0.40000000001\""},
      {{"--z-start=--1", "--heat-temp=210", "--speed=300"}, COMMAND_LINE_ERROR, "\"--1\""},
      {{"--z-start=0.4", "--heat-temp=", "--speed=300"}, COMMAND_LINE_ERROR, "--heat-temp"},
      {{"--z-start=0.4", "--heat-temp=210", "--speed=3 00"}, COMMAND_LINE_ERROR, "\"3 00\""},
      // Unknown or unexpected arguments, shown safely.
      {{"--zstart=0.4"}, COMMAND_LINE_ERROR, "unknown option \"--zstart=0.4\""},
      {{"-x"}, COMMAND_LINE_ERROR, "unknown option \"-x\""},
      {{"-hv"}, COMMAND_LINE_ERROR, "unknown option \"-hv\""},
      {{"0.4", "210", "300"}, COMMAND_LINE_ERROR, "unexpected argument \"0.4\""},
      {{"--speed=3\x1b[2J"}, COMMAND_LINE_ERROR, "\"3\\x1B[2J\""},
      // Missing: a value after its option, or one of the three values.
      {{"--z-start=0.4", "--heat-temp=210", "--speed"}, COMMAND_LINE_ERROR, "--speed needs"},
      {{"--z-start", "--heat-temp=210", "--speed=300"}, COMMAND_LINE_ERROR, "--z-start needs"},
      {{"--z-start=0.4", "--speed=300"}, COMMAND_LINE_ERROR, "--heat-temp is missing"},
      {{"--speed=300", "--speed=300"}, COMMAND_LINE_ERROR, "--speed is given twice"},
      // A file to check, the default one or as given; nothing else with it.
      {{"--check"}, CHECK_FILE, "dagoma0.g"},
      {{"--check", "/media/card/dagoma0.g"}, CHECK_FILE, "/media/card/dagoma0.g"},
      {{"--check=-x.g"}, CHECK_FILE, "-x.g"},
      {{"--check="}, COMMAND_LINE_ERROR, "--check needs a value"},
      {{"--check", "a.g", "b.g"}, COMMAND_LINE_ERROR, "unexpected argument \"b.g\""},
      {{"--check", "--speed=300"}, COMMAND_LINE_ERROR, "--speed cannot be given with --check"},
      {{"--check", "--check"}, COMMAND_LINE_ERROR, "--check is given twice"},
      {{"--check", "--help"}, PRINT_HELP, ""},
      // The pieces or a resume, with the three values and nothing else.
      {{"--z-start=0.4", "--heat-temp=210", "--speed=300", "--pieces"},
       PRINT_PIECES,
       "0.4",
       "210",
       "300"},
      {{"--resume=5:20.4", "--z-start=0.4", "--heat-temp=210", "--speed=300"},
       RESUME_JOB,
       "0.4",
       "210",
       "300",
       5,
       20400},
      {{"--z-start=-1", "--heat-temp=210", "--speed=300", "--resume", "10:-0.125"},
       RESUME_JOB,
       "-1",
       "210",
       "300",
       10,
       -125},
      {{"--resume=5:20"},
       COMMAND_LINE_ERROR,
       "--resume needs the three values: --z-start is missing"},
      {{"--z-start=0.4", "--heat-temp=210", "--pieces"},
       COMMAND_LINE_ERROR,
       "--pieces needs the three values: --speed is missing"},
      {{"--pieces=1"}, COMMAND_LINE_ERROR, "--pieces takes no value"},
      {{"--resume"}, COMMAND_LINE_ERROR, "--resume needs a value"},
      {{"--resume="}, COMMAND_LINE_ERROR, "--resume needs a value"},
      {{"--resume=5"}, COMMAND_LINE_ERROR, "invalid value \"5\" for --resume: PIECE:Z"},
      {{"--resume=5:1.2345"}, COMMAND_LINE_ERROR, "\"5:1.2345\""},
      {{"--resume=5:1e2"}, COMMAND_LINE_ERROR, "\"5:1e2\""},
      {{"--resume=a:1"}, COMMAND_LINE_ERROR, "\"a:1\""},
      {{"--resume=:1"}, COMMAND_LINE_ERROR, "\":1\""},
      {{"--resume=5:."}, COMMAND_LINE_ERROR, "\"5:.\""},
      {{"--resume=1:1", "--resume=2:2"}, COMMAND_LINE_ERROR, "--resume is given twice"},
      {{"--pieces", "--resume=1:1"}, COMMAND_LINE_ERROR, "--resume cannot be given with --pieces"},
      {{"--check", "--pieces"}, COMMAND_LINE_ERROR, "--pieces cannot be given with --check"},
      // Questions are answered at once, whatever follows them.
      {{"--help"}, PRINT_HELP, ""},
      {{"--help", "--bogus"}, PRINT_HELP, ""},
      {{"-h"}, PRINT_HELP, ""},
      {{"--z-start=0.4", "-h"}, PRINT_HELP, ""},
      {{"--version"}, PRINT_VERSION, ""},
      {{"--z-start=0.4", "--version"}, PRINT_VERSION, ""},
      {{"--version=2"}, COMMAND_LINE_ERROR, "--version takes no value"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"visor-gcode"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string shown;
    for (const char* arg : c.args)
      shown += testing::PrintToString(std::string(arg)) + " ";
    SCOPED_TRACE(shown);
    CommandLine cl = parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(cl.action, c.action) << cl.error;
    if (c.action == RUN_WITH_VALUES || c.action == PRINT_PIECES || c.action == RESUME_JOB) {
      EXPECT_STREQ(cl.typed.z_start, c.z_start_or_named);
      EXPECT_STREQ(cl.typed.heat_temp, c.heat_temp);
      EXPECT_STREQ(cl.typed.speed, c.speed);
    }
    EXPECT_EQ(cl.resume.piece, c.resume_piece);
    EXPECT_EQ(cl.resume.z, c.resume_z);
    if (c.action == CHECK_FILE) {
      EXPECT_EQ(cl.check_path, c.z_start_or_named);
    }
    if (c.action == COMMAND_LINE_ERROR)
      EXPECT_NE(cl.error.find(c.z_start_or_named), std::string::npos) << cl.error;
    else
      EXPECT_EQ(cl.error, "");
  }
}

// The command the result names to check a copy: the program's own name
// where the PATH finds this very program, else the path it was started by.
TEST(OwnCommand, TheNameWhereThePathFindsThisProgramElseThePathGiven) {
  TempDir dir;
  const std::string program = dir.file("visor-gcode");
  ASSERT_TRUE(write_file(program, "#!/bin/sh\n"));
  ASSERT_EQ(mkdir(dir.file("other").c_str(), 0755), 0);
  ASSERT_TRUE(write_file(dir.file("other/visor-gcode"), "#!/bin/sh\n"));  // another program
  ASSERT_EQ(mkdir(dir.file("with blank").c_str(), 0755), 0);
  const char* saved = getenv("PATH");
  const std::string path_before = saved != nullptr ? saved : "";
  const struct {
    std::string path;  // PATH
    std::string argv0;
    std::string command;
  } cases[] = {
      {"/usr/bin", "visor-gcode", "visor-gcode"},  // the shell found it there
      {"/usr/bin:" + dir.path, program, "visor-gcode"},
      {dir.file("other"), program, program},
      {"/usr/bin", "./build/visor-gcode", "./build/visor-gcode"},
      {"/usr/bin", dir.file("with blank") + "/visor-gcode",
       "'" + dir.file("with blank") + "/visor-gcode'"},
  };
  for (const auto& c : cases) {
    setenv("PATH", c.path.c_str(), 1);
    EXPECT_EQ(own_command(c.argv0.c_str()), c.command) << c.path << " " << c.argv0;
  }
  setenv("PATH", path_before.c_str(), 1);
}

}  // namespace
