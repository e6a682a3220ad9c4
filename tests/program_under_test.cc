#include "program_under_test.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "job_file.h"

const char VISOR_GCODE[] = VISOR_GCODE_PATH;

namespace {

bool one_of(const std::string& word, const char* const* list, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (word == list[i])
      return true;
  return false;
}

// Digits where the pattern has '9', the pattern's own character elsewhere.
bool matches_digits(const std::string& text, const char* pattern) {
  if (text.size() != strlen(pattern))
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (pattern[i] == '9' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
      return false;
  }
  return true;
}

// strftime's "; Generated at %a %b %e %H:%M:%S %Y" in the default locale.
bool is_generated_line(const std::string& line) {
  static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string prefix = "; Generated at ";
  if (line.size() != prefix.size() + 24 || !line.starts_with(prefix))
    return false;
  std::string date = line.substr(prefix.size());  // "Mon Dec  8 05:27:03 2025"
  if (!one_of(date.substr(0, 3), days, 7) || date[3] != ' ' ||
      !one_of(date.substr(4, 3), months, 12) || date[7] != ' ')
    return false;
  // The day of the month is padded with a blank, not a zero.
  std::string day = date.substr(8, 2);
  bool day_ok = (day[0] == ' ' && day[1] >= '1' && day[1] <= '9') ||
                (day[0] >= '1' && day[0] <= '3' && isdigit(day[1]));
  return day_ok && matches_digits(date.substr(10), " 99:99:99 9999");
}

}  // namespace

void expect_complete_job(const std::string& path, const std::string& z_start,
                         const std::string& heat_temp, const std::string& speed) {
  JobFile job = read_job_file(path, 9, 4);
  ASSERT_TRUE(job.opened) << path;
  EXPECT_EQ(job.lines, COMPLETE_JOB_LINES);
  EXPECT_TRUE(job.ends_with_newline);
  EXPECT_FALSE(job.has_end_marker) << "the end marker reached the file";
  ASSERT_EQ(job.head.size(), 9u);

  EXPECT_TRUE(is_generated_line(job.head[0])) << job.head[0];
  EXPECT_EQ(job.head[1],
            "; With z_start: " + z_start + " heat temp: " + heat_temp + " speed: " + speed);
  EXPECT_EQ(job.head[2], "; Author: Veldrane");
  EXPECT_TRUE(job.head[3].starts_with("; Website: ")) << job.head[3];
  EXPECT_TRUE(job.head[4].starts_with("; E-mail: ")) << job.head[4];
  EXPECT_EQ(job.head[5], "G90");
  EXPECT_TRUE(job.head[6].starts_with("G1 F" + speed + " Z")) << job.head[6];
  EXPECT_EQ(job.head[7], "M106 S" + heat_temp);
  EXPECT_EQ(job.head[8], "M109 S" + heat_temp);
  EXPECT_EQ(job.tail, (std::vector<std::string>{"G92 E0.0", "G28", "M106 S0", "M109 S0"}));
}
