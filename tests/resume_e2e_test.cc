// The README's resume of a failed print, as the program does it: the table
// of the pieces, the example's resume job written and checked.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "piped_run.h"
#include "program_under_test.h"
#include "test_support.h"

namespace {

constexpr int ANSWER_MS = 30000;

// The README's indented block that begins with the line `first` (without
// its indent), unindented, up to the blank line that ends it.
std::string block_from(const std::string& readme, const std::string& first) {
  size_t at = readme.find("\n    " + first);
  if (at == std::string::npos)
    return "";
  std::string block;
  std::istringstream lines(readme.substr(at + 1));
  for (std::string line; std::getline(lines, line) && line.starts_with("    ");)
    block += line.substr(4) + "\n";
  return block;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;)
    out.push_back(word);
  return out;
}

TEST(ResumeRun, TheReadmesPiecesAndExampleAreWhatTheProgramDoes) {
  std::optional<std::string> readme = read_file(VISOR_README_PATH);
  ASSERT_TRUE(readme);
  const std::string values = "visor-gcode --z-start=0.4 --heat-temp=210 --speed=300 ";
  TempDir dir;

  // The table, as printed; nothing is written.
  std::vector<std::string> argv = words(block_from(*readme, values + "--pieces"));
  ASSERT_EQ(argv.size(), 5u);
  argv[0] = VISOR_GCODE;
  PipedRun pieces = run_piped(argv, "", dir.path, ANSWER_MS);
  EXPECT_EQ(exit_code(pieces), 0) << pieces.err;
  EXPECT_EQ(pieces.out, block_from(*readme, "Piece "));
  EXPECT_EQ(pieces.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));

  // The example's resume job and what the run prints, the folder put where
  // the README has it.
  argv = words(block_from(*readme, values + "--resume="));
  ASSERT_EQ(argv.size(), 5u);
  argv[0] = VISOR_GCODE;
  PipedRun resume = run_piped(argv, "", dir.path, JOB_MS);
  EXPECT_EQ(exit_code(resume), 0) << resume.err;
  std::string folder = std::filesystem::canonical(dir.path).string();
  std::string shown = resume.out;
  size_t path = shown.find(folder + "/dagoma0.g");
  ASSERT_NE(path, std::string::npos) << shown;
  shown.replace(path, folder.size(), "/home/operator/prints");
  // Installed, the program is found by its name.
  size_t command = shown.find(VISOR_GCODE);
  ASSERT_NE(command, std::string::npos) << shown;
  shown.replace(command, strlen(VISOR_GCODE), "visor-gcode");
  std::string printed =
      block_from(readme->substr(readme->find(values + "--resume=")), "Created file:");
  EXPECT_EQ(shown, printed);
  EXPECT_EQ(resume.err, "");

  // Checked, it is the resume job made again; with line 6 naming another
  // place, it is not.
  PipedRun check = run_piped({VISOR_GCODE, "--check"}, "", dir.path, JOB_MS);
  EXPECT_EQ(exit_code(check), 0) << check.err;
  const std::string resumes = printed.substr(printed.find("Resumes:"));
  EXPECT_TRUE(
      check.out.starts_with("dagoma0.g: the resume job for calibrating point 0.4, "
                            "temperature 210, speed 300 ("))
      << check.out;
  EXPECT_NE(check.out.find(resumes.substr(0, resumes.find('\n') + 1)), std::string::npos)
      << check.out;
  std::optional<std::string> job = read_file(dir.file("dagoma0.g"));
  ASSERT_TRUE(job);
  size_t z = job->find("at Z 149.701,");
  ASSERT_NE(z, std::string::npos);
  job->replace(z, 13, "at Z 150.000,");
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), *job));
  check = run_piped({VISOR_GCODE, "--check"}, "", dir.path, JOB_MS);
  EXPECT_EQ(exit_code(check), 1);
  EXPECT_NE(check.err.find("dagoma0.g: line 6 of "), std::string::npos) << check.err;
}

}  // namespace
