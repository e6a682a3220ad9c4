#include "frontend/job_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/messages.h"
#include "test_support.h"

namespace {

// Stands in for the generator: sends a job of its own through the channel
// the way the generator does, its line 2 made from the values the check
// read. Its moves make the file longer than one read block, so that lines
// lie across blocks.
constexpr int MOVES = 80000;

struct FakeGenerator {
  const TypedValues* typed = nullptr;
  LineChannel* channel = nullptr;
};

std::vector<std::string> job_lines(const TypedValues& t) {
  std::vector<std::string> lines = {"; Generated at Mon Dec  8 10:42:17 2026\n",
                                    std::string("; With z_start: ") + t.z_start +
                                        " heat temp: " + t.heat_temp + " speed: " + t.speed + "\n"};
  char line[64];
  for (int i = 0; i < MOVES; ++i) {
    snprintf(line, sizeof line, "G1 F%s E%d.%03d X%d.000 Y0.000\n", t.speed, i / 1000, i % 1000,
             i % 2 * 10);
    lines.push_back(line);
  }
  lines.push_back("G28\n");
  lines.push_back("M109 S0\n");
  return lines;
}

int fake_generator_main(void* arg) {
  FakeGenerator* g = static_cast<FakeGenerator*>(arg);
  if (channel::connect(g->channel) < 0)
    return -1;
  for (const std::string& line : job_lines(*g->typed))
    channel::send_line(g->channel, line.data(), line.size());
  channel::send_line(g->channel, END_MARKER, END_MARKER_LENGTH);
  channel::close(g->channel);
  return 0;
}

struct CheckRun {
  std::unique_ptr<JobCheck> check = std::make_unique<JobCheck>();
  FakeGenerator generator;
  int status = -99;

  explicit CheckRun(const std::string& path) : path_(path) {
    check->path = path_.c_str();
    generator.typed = &check->typed;
    generator.channel = &check->run.channel;
    check->run.entry = fake_generator_main;
    check->run.arg = &generator;
    status = check_job(check.get());
  }

 private:
  std::string path_;
};

std::string joined(const std::vector<std::string>& lines, size_t from = 0) {
  std::string s;
  for (size_t i = from; i < lines.size(); ++i)
    s += lines[i];
  return s;
}

TEST(JobCheck, TellsWhetherAndWhereAFileDiffersFromTheJob) {
  const TypedValues typed = {"0.4", "210", "300"};
  const std::vector<std::string> lines = job_lines(typed);
  const std::string job = joined(lines);
  // Line 50,001 lies past the first read block.
  const size_t middle = joined({lines.begin(), lines.begin() + 50000}).size();
  std::string one_byte = job;
  one_byte[middle + 9] = '\0';  // "G1 F300 E49.998 X0.000 Y0.000": the E's first digit
  // A block of the card that reads as zeros: a line with no end in sight.
  std::string zeros = job;
  zeros.replace(middle, 4096, 4096, '\0');
  std::string zeros_shown;
  for (int i = 0; i < 40; ++i)
    zeros_shown += "\\x00";
  std::vector<std::string> without_line = lines;
  without_line.erase(without_line.begin() + 50000);
  std::vector<std::string> header_700 = lines;
  header_700[1] = "; With z_start: 0.4 heat temp: 210 speed: 700\n";

  struct Case {
    const char* name;
    std::string content;
    int status;
    std::string report_begins;  // FILE's name is put in front
    std::string report_holds = "";
  } cases[] = {
      // Made at another time: only line 1's form is checked.
      {"exact", "; Generated at Thu Jan  1 00:00:00 2037\n" + joined(lines, 1), 0,
       ": the complete job for calibrating point 0.4, temperature 210, speed 300 (80,004 lines)\n"
       "Print time:       ",
       "\nHeight:           Z 0.000 to 0.000 mm\n"},
      {"one byte changed", one_byte, 1,
       ": line 50,001 of 80,004 differs from the job, from character 10 on:\n"
       "  expected: \"G1 F300 E49.998 X0.000 Y0.000\"\n"
       "  found:    \"G1 F300 E\\x009.998 X0.000 Y0.000\"\n"},
      {"a block of zeros", zeros, 1,
       ": line 50,001 of 80,004 differs from the job, from character 1 on:\n"
       "  expected: \"G1 F300 E49.998 X0.000 Y0.000\"\n"
       "  found:    \"" +
           zeros_shown + "\"...\n"},
      {"a line missing", joined(without_line), 1,
       ": line 50,001 of 80,004 is missing; the file goes on with the line after it:\n"
       "  missing:  \"G1 F300 E49.998 X0.000 Y0.000\"\n"},
      {"truncated", job.substr(0, middle), 1,
       " ends early: it holds 50,000 of the job's 80,004 lines.\n"},
      {"cut in a line", job.substr(0, middle + 12), 1,
       " ends early: it holds 50,000 of the job's 80,004 lines, and line 50,001 only in part:\n"
       "  expected: \"G1 F300 E49.998 X0.000 Y0.000\"\n"
       "  found:    \"G1 F300 E49.\", where the file ends\n"},
      {"no last line end", job.substr(0, job.size() - 1), 1,
       ": the job's last line, line 80,004, has no line end.\n"},
      {"longer", job + "G28\n", 1,
       ": the job's 80,004 lines are followed by more:\n  found:    \"G28\"\n"},
      {"line ends turned into CR LF",
       "; Generated at Mon Dec  8 10:42:17 2026\r\n"
       "; With z_start: 0.4 heat temp: 210 speed: 300\r\n",
       1,
       ": its lines end in CR LF, not LF alone: the copy was made as a text file. Copy "
       "dagoma0.g again as a binary file.\n"},
      {"not a time line", "; Generated on Monday\n" + joined(lines, 1), 1,
       ": line 1 of 80,004 is not the time line of a job:\n"
       "  expected: a line of the form \"; Generated at Www Mmm dd hh:mm:ss yyyy\"\n"
       "  found:    \"; Generated on Monday\"\n"},
      {"empty", "", 1, " is empty: it holds no job.\n"},
      {"another program's header",
       "; generated by PrusaSlicer 2.7.1\n; external perimeters extrusion width = 0.45mm\nG28\n", 1,
       " is not a job of visor-gcode: its line 2 does not give the three values:\n"
       "  expected: \"; With z_start: Z heat temp: T speed: S\"\n"
       "  found:    \"; external perimeters extrusion width = \"...\n"},
      {"one line only", lines[0], 1,
       " is not a job of visor-gcode: it ends before line 2, which gives the three values.\n"},
      {"a value out of range", joined(header_700), 1,
       ": the speed in line 2, \"700\", is no valid value: a number from 80 to 600, at most "
       "nine digits.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string path = dir.file("dagoma0.g");
    ASSERT_TRUE(write_file(path, c.content));
    CheckRun run(path);
    EXPECT_EQ(run.status, c.status) << run.check->report;
    EXPECT_TRUE(run.check->report.starts_with(path + c.report_begins)) << run.check->report;
    EXPECT_NE(run.check->report.find(c.report_holds), std::string::npos) << run.check->report;
    // Only read.
    EXPECT_EQ(read_file(path), c.content);
  }

  // What cannot be read at all gives the system's reason; a name too long
  // to read is shown cut, as a long value is.
  TempDir dir;
  const std::string long_name = dir.file(std::string(6001, 'x'));
  std::string long_shown;  // its first 40 characters, a backslash shown as two
  for (char c : long_name.substr(0, 40))
    long_shown += c == '\\' ? std::string("\\\\") : std::string(1, c);
  for (auto [path, shown, reason] :
       {std::tuple{dir.file("none.g"), dir.file("none.g"), "No such file or directory"},
        {dir.path, dir.file("dagoma0.g"), "No such file or directory"},
        {long_name, "\"" + long_shown + "\"...", "File name too long"}}) {
    CheckRun run(path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.check->report, "Cannot read file " + shown + ": " + reason + ".\n");
  }
  // A folder, as the card is given: the job in it is checked.
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), job));
  CheckRun folder(dir.path);
  EXPECT_EQ(folder.status, 0) << folder.check->report;
  EXPECT_TRUE(folder.check->report.starts_with(dir.file("dagoma0.g") + ": the complete job"))
      << folder.check->report;
}

}  // namespace
