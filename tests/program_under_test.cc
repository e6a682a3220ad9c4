#include "program_under_test.h"

#include <gtest/gtest.h>

#include <regex>

#include "job_file.h"

const char VISOR_GCODE[] = VISOR_GCODE_PATH;

void expect_complete_job(const std::string& path, const std::string& z_start,
                         const std::string& heat_temp,
                         const std::string& speed) {
  JobFile job = read_job_file(path, 9, 4);
  ASSERT_TRUE(job.opened) << path;
  EXPECT_EQ(job.lines, COMPLETE_JOB_LINES);
  EXPECT_TRUE(job.ends_with_newline);
  EXPECT_FALSE(job.has_end_marker) << "the end marker reached the file";
  ASSERT_EQ(job.head.size(), 9u);

  // strftime's "%a %b %e %H:%M:%S %Y" in the default locale.
  static const std::regex generated(
      "; Generated at (Mon|Tue|Wed|Thu|Fri|Sat|Sun) "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
  EXPECT_TRUE(std::regex_match(job.head[0], generated)) << job.head[0];
  EXPECT_EQ(job.head[1], "; With z_start: " + z_start + " heat temp: " +
                             heat_temp + " speed: " + speed);
  EXPECT_EQ(job.head[2], "; Author: Veldrane");
  EXPECT_TRUE(job.head[3].starts_with("; Website: ")) << job.head[3];
  EXPECT_TRUE(job.head[4].starts_with("; E-mail: ")) << job.head[4];
  EXPECT_EQ(job.head[5], "G90");
  EXPECT_TRUE(job.head[6].starts_with("G1 F" + speed + " Z")) << job.head[6];
  EXPECT_EQ(job.head[7], "M106 S" + heat_temp);
  EXPECT_EQ(job.head[8], "M109 S" + heat_temp);
  EXPECT_EQ(job.tail,
            (std::vector<std::string>{"G92 E0.0", "G28", "M106 S0", "M109 S0"}));
}
