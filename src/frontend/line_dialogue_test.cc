#include "frontend/line_dialogue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frontend/messages.h"
#include "test_support.h"

namespace {

// The dialogue reading a file, as when a script feeds the program, with
// its output and errors in files too.
struct Lines {
  TempDir dir;
  LineDialogue d;
  explicit Lines(const std::string& input) {
    EXPECT_TRUE(write_file(dir.file("in"), input));
    d.in_fd = open(dir.file("in").c_str(), O_RDONLY);
    d.out_fd = open(dir.file("out").c_str(), O_WRONLY | O_CREAT, 0644);
    d.error_fd = open(dir.file("err").c_str(), O_WRONLY | O_CREAT, 0644);
  }
  ~Lines() {
    for (int fd : {d.in_fd, d.out_fd, d.error_fd})
      close(fd);
  }
  std::string out() const { return read_file(dir.file("out")).value_or("(none)"); }
  std::string err() const { return read_file(dir.file("err")).value_or("(none)"); }
};

// Each line one value, read for the kinds in turn.
TEST(LineDialogue, ReadsOneValueALineEndedByCrLfTheirPairOrTheEndOfInput) {
  const std::string error = std::string(FIELD_ERROR_TEXT) + ": ";
  const struct {
    std::string input;
    std::vector<std::string> values;  // each read's text, or "!" for an error line
    std::string errors;
  } cases[] = {
      {"0.4\r\n210\r300", {"0.4", "210", "300"}, ""},
      // Two CRs are two lines: the empty one is no temperature.
      {"1\r\r", {"1", "!"}, error + "heating temperature \"\"\n"},
      // A line longer than any value is shown cut.
      {"-\n" + std::string(300, '9') + "\n",
       {"-", "!"},
       error + "heating temperature \"" + std::string(40, '9') + "\"...\n"},
      {"", {}, ""},
  };
  const FieldKind kinds[] = {FIELD_Z_START, FIELD_HEAT_TEMP, FIELD_SPEED};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    Lines l(c.input);
    std::vector<std::string> values;
    char text[16];
    for (int result; values.size() < 3 &&
                     (result = line_dialogue_read_value(&l.d, kinds[values.size()], text)) !=
                         FIELD_INPUT_ENDED;)
      values.push_back(result == FIELD_ACCEPTED ? text : "!");
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(l.err(), c.errors);
    EXPECT_EQ(l.out(), "");  // no prompts: nobody types at a file
  }
}

TEST(LineDialogue, AProgressLineIsRewrittenInPlaceAndEndedBeforeTheNextLine) {
  Lines l("");
  line_dialogue_progress(&l.d, 1);  // nobody watches a file
  l.d.progress_fd = l.d.out_fd;
  line_dialogue_progress(&l.d, 1);
  line_dialogue_progress(&l.d, 2);
  line_dialogue_print(&l.d, CREATED_TEXT);
  line_dialogue_print_error(&l.d, NO_INPUT_TEXT);
  EXPECT_EQ(l.out(),
            std::string("\rProgress:         1 %\rProgress:         2 %\n") + CREATED_TEXT + "\n");
  EXPECT_EQ(l.err(), std::string(NO_INPUT_TEXT) + "\n");
}

}  // namespace
