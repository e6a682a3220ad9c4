#include "frontend/program_flow.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/entry_field.h"
#include "platform/test_console.h"
#include "test_support.h"

namespace {

// The result's last line, for a program started by its own name.
const std::string COPY_CHECK_LINE =
    "After copying:    visor-gcode --check <card>/dagoma0.g checks the copy on the printer's card";

// Stands in for the generator: sends its lines through the channel the way
// the generator does, and notes how large the file being written (the
// temporary file) and dagoma0.g itself were each time a line had been
// acknowledged.
struct FakeGenerator {
  LineChannel* channel = nullptr;
  const OutputFile* output = nullptr;
  std::string final_path;
  std::vector<std::string> lines;
  bool send_end_marker = true;
  // Off for long runs: each look reads the files whole.
  bool note_sizes = true;
  std::vector<long long> file_size_after_ack;
  std::vector<long long> final_size_after_ack;
};

// Bytes in the file, -1 when there is none; without the zero bytes the
// temporary file is allocated ahead of its lines with, where it is mapped.
long long file_size(const std::string& path) {
  std::optional<std::string> text = read_file(path);
  if (!text)
    return -1;
  return static_cast<long long>(text->find_last_not_of('\0') + 1);
}

// The file being written, as a path that opens it: through its descriptor
// where it has no name until the end, by its temporary name on Windows.
std::string being_written(const OutputFile* file) {
#ifdef _WIN32
  return file->temp_path;
#else
  return "/proc/self/fd/" + std::to_string(file->handle);
#endif
}

int fake_generator_main(void* arg) {
  FakeGenerator* g = static_cast<FakeGenerator*>(arg);
  if (channel::connect(g->channel) < 0)
    return -1;
  const std::string file_path = being_written(g->output);  // created before the generator starts
  for (const std::string& line : g->lines) {
    channel::send_line(g->channel, line.data(), line.size());
    if (!g->note_sizes)
      continue;
    g->file_size_after_ack.push_back(file_size(file_path));
    g->final_size_after_ack.push_back(file_size(g->final_path));
  }
  if (g->send_end_marker)
    channel::send_line(g->channel, END_MARKER, END_MARKER_LENGTH);
  channel::close(g->channel);
  return 0;
}

// A run on the full screen (the memory console), or in the line dialogue
// with its lines in files of the folder.
struct FlowRun {
  TempDir dir;
  std::string file = dir.file("dagoma0.g");
  std::unique_ptr<Program> program = std::make_unique<Program>();
  MemoryConsole mem;
  FakeGenerator generator;
  int status = -99;
  int fds[3] = {-1, -1, -1};  // the line dialogue's input, output and errors
  bool watched = false;       // a person at a terminal types and watches the lines

  explicit FlowRun(bool full_screen = true, bool screen_stays = false) {
    program->output_dir = dir.path.c_str();
    fds[1] = open(dir.file("out.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    fds[2] = open(dir.file("err.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    mem.screen_stays = screen_stays;
    if (full_screen)
      open_memory_console(&program->dialogue.console, &mem);
    generator.channel = &program->run.channel;
    generator.output = &program->output;
    generator.final_path = file;
    program->run.entry = fake_generator_main;
    program->run.arg = &generator;
  }
  ~FlowRun() {
    for (int fd : fds)
      if (fd >= 0)
        close(fd);
  }
  // What the line dialogue reads, all of it there before the run.
  void give_lines(const std::string& text) {
    ASSERT_TRUE(write_file(dir.file("in.txt"), text));
    fds[0] = open(dir.file("in.txt").c_str(), O_RDONLY);
  }
  int run() {
    dialogue_open(&program->dialogue, nullptr, fds[0], fds[1], fds[2]);
    if (watched) {
      program->dialogue.lines.prompt_fd = program->dialogue.lines.progress_fd = fds[1];
      program->dialogue.lines.retry = true;
    }
    return status = run_program(program.get());
  }
  std::string printed() const { return read_file(dir.file("out.txt")).value_or("(no file)"); }
  std::string errors() const { return read_file(dir.file("err.txt")).value_or("(no file)"); }
  std::string file_text() const { return read_file(file).value_or("(no file)"); }
  // The folder's entries but dagoma0.g and the line dialogue's files, each
  // followed by a blank.
  std::string others() const {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      std::string name = entry.path().filename().string();
      if (name != "dagoma0.g" && name != "in.txt" && name != "out.txt" && name != "err.txt")
        names += entry.path().filename().string() + " ";
    }
    return names;
  }
  const Console* con() const { return &program->dialogue.console; }
};

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines)
    s += l;
  return s;
}

TEST(ProgramFlow, CompleteRunOnTheFullScreen) {
  FlowRun r;
  r.generator.lines = {"; visor\n",          "G28\n",
                       "G1 F300 Z210.000\n", "G1 F300 E0.012 X-70.000 Y-74.000\n",
                       "G4 S60\n",           "M104 S0\n"};
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);  // the key the end waits for
  EXPECT_EQ(r.run(), 0);

  EXPECT_STREQ(r.program->typed.z_start, "0.4");
  EXPECT_STREQ(r.program->typed.heat_temp, "210");
  EXPECT_STREQ(r.program->typed.speed, "300");

  // Every line, unchanged, without the end marker; each one in the file
  // before it was acknowledged.
  EXPECT_EQ(r.file_text(), joined(r.generator.lines));
  std::vector<long long> expect_sizes;
  long long size = 0;
  for (const std::string& l : r.generator.lines)
    expect_sizes.push_back(size += static_cast<long long>(l.size()));
  EXPECT_EQ(r.generator.file_size_after_ack, expect_sizes);
  EXPECT_EQ(r.program->dialogue.line_count, 6u);

  const Console* con = r.con();
  EXPECT_EQ(console_row(con, 13), "    Writing gcode:    M104 S0") << console_dump(con);
  EXPECT_EQ(console_row(con, 14), "    Progress:         |=|" + std::string(81, ' ') + "  1 %");
  EXPECT_EQ(console_row(con, 15), std::string("    ") + CREATED_TEXT);
  EXPECT_EQ(console_row(con, 16),
            "    Enter calibrating point (number between -40.000 and 200.000):  0.4");
  EXPECT_EQ(console_row(con, 17),
            "    Enter heating temperature (depends on filament number between 170 and "
            "270):  210");
  EXPECT_EQ(console_row(con, 18),
            "    Enter speed value (300 strongly encouraged 600 maximum):  300");
  // The summary of the lines written: 210 mm up and 101.9 mm across at
  // 5 mm/s, then a minute's pause; above the frame, each warning after its
  // figure.
  const std::string summary[] = {
      "Print time:       0 h 2 min    Filament: 0.00 m (0 g of PLA)",
      "Pauses:           60 s at Z 210.000",
      std::string("Height:           Z 210.000 to 210.000 mm   ") + ABOVE_BUILD_HEIGHT_TEXT,
      "Footprint:        X -70.000 to -70.000, Y -74.000 to -74.000 mm",
  };
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(console_row(con, 5 + i), "    " + summary[i]);
  // Below the values, the file and the key that closes the screen.
  const std::string file_line = std::string(FILE_LABEL) + r.file + " (0.0 MB)";
  EXPECT_EQ(console_row(con, 19).substr(0, 4 + file_line.size()), "    " + file_line);
  EXPECT_EQ(console_text(con, 83, 19, 35), std::string(CLOSE_KEY_TEXT) + "  ");
  EXPECT_TRUE(r.mem.cells[19][118].frame);

  // The end waited for the key, left the screen, then printed it all
  // again so that it stays, each warning on a line of its own.
  EXPECT_EQ(r.mem.next, r.mem.script.size() - 1);  // the key, not its release
  EXPECT_TRUE(r.mem.closed);
  EXPECT_EQ(r.printed(), std::string(CREATED_TEXT) + "\n" + file_line + "\n" + summary[0] + "\n" +
                             summary[1] + "\n" + "Height:           Z 210.000 to 210.000 mm\n" +
                             ABOVE_BUILD_HEIGHT_TEXT + "\n" + summary[3] + "\n" + COPY_CHECK_LINE +
                             "\n");
  EXPECT_EQ(r.mem.slept_ms, 0u);
}

TEST(ProgramFlow, AnyFailedFieldAsksAllThreeAgainFromTheFirst) {
  FlowRun r;
  r.generator.lines = {"G28\n"};
  memory_type(&r.mem, "250\n");  // out of range: error line, then from the start
  memory_type(&r.mem, "0.4\n21");
  memory_press(&r.mem, VKEY_BACK);     // Backspace in the second field
  memory_type(&r.mem, "0.4\n210\n-");  // "-" in the speed field
  memory_type(&r.mem, "1.5\n220\n400\n");
  memory_press(&r.mem, VKEY_RETURN);
  EXPECT_EQ(r.run(), 0);

  EXPECT_STREQ(r.program->typed.z_start, "1.5");
  EXPECT_STREQ(r.program->typed.heat_temp, "220");
  EXPECT_STREQ(r.program->typed.speed, "400");
  EXPECT_EQ(r.mem.slept_ms, ERROR_WAIT_MS);  // only the invalid value waited
  // The input is flushed before each field, before receiving and before
  // the closing key: 1 + 2 + 3 fields, then 3 fields, then twice more.
  EXPECT_EQ(r.mem.discards, 1 + 2 + 3 + 3 + 1 + 1);
  // Each start cleared the screen: nothing typed before is left.
  EXPECT_EQ(console_row(r.con(), 17),
            "    Enter heating temperature (depends on filament number between 170 and "
            "270):  220");
  EXPECT_EQ(r.file_text(), "G28\n");
}

// A Windows console keeps the finished screen after it closes: only a
// text the screen had to cut, here the file's long path, is printed again.
TEST(ProgramFlow, WhereTheScreenStaysOnlyWhatItCutIsPrintedAgain) {
  FlowRun r(true, true);
  std::string folder = r.dir.file(std::string(60, 'f'));
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  r.program->output_dir = folder.c_str();
  r.generator.note_sizes = false;
  r.generator.lines = {"G28\n"};
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);
  EXPECT_EQ(r.run(), 0);
  std::string path = folder + "/dagoma0.g";
  // The beginning and the file's name, the middle left out.
  std::string shown = console_text(r.con(), 4, 19, 112);
  EXPECT_TRUE(shown.starts_with(std::string(FILE_LABEL) + path.substr(0, 10))) << shown;
  EXPECT_NE(shown.find("...f"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("f/dagoma0.g (0.0 MB)   " + std::string(CLOSE_KEY_TEXT))) << shown;
  EXPECT_EQ(r.printed(), std::string(FILE_LABEL) + path + " (0.0 MB)\n");
}

// With prompts and the progress where a person at a terminal sees them,
// here in the same file as the results.
TEST(ProgramFlow, LineDialogueReadsLinesPrintsMessagesAndNeedsNoKeyAtTheEnd) {
  FlowRun r(false);
  r.watched = true;
  r.generator.lines = {"G28\n", "M84\n"};
  r.give_lines("0.4\n210\n700\n0.4\n210\n300");  // speed out of range; no last line end
  EXPECT_EQ(r.run(), 0);
  EXPECT_EQ(r.errors(), std::string(FIELD_ERROR_TEXT) + ": speed \"700\"\n");
  // Each value asked for with its prompt, from the first again after the
  // error; the progress line ended before the result.
  std::string asked;
  for (const char* prompt : PROMPT_TEXTS)
    asked += std::string(prompt) + " ";
  EXPECT_EQ(r.printed(), asked + asked + "\rProgress:         1 %\n" + CREATED_TEXT + "\n" +
                             FILE_LABEL + r.file + " (0.0 MB)\n" +
                             "Print time:       0 h 0 min    Filament: 0.00 m (0 g of PLA)\n"
                             "Pauses:           none\n"
                             "Height:           nothing is extruded\n"
                             "Footprint:        no move in X or Y\n" +
                             COPY_CHECK_LINE + "\n");
  EXPECT_EQ(r.file_text(), "G28\nM84\n");
}

TEST(ProgramFlow, InputEndingBeforeThreeValuesWritesNothing) {
  const struct {
    const char* typed;
    std::string errors;
  } cases[] = {
      {"", std::string(NO_INPUT_TEXT) + "\n"},
      {"0.4\n210\n", std::string(INPUT_ENDED_TEXTS[1]) + "\n"},
      {"0.4\n999\n", std::string(FIELD_ERROR_TEXT) + ": heating temperature \"999\"\n" +
                         INVALID_INPUT_TEXT + "\n"},
  };
  for (const auto& c : cases) {
    FlowRun r(false);
    ASSERT_TRUE(write_file(r.file, "an earlier job\n"));
    r.give_lines(c.typed);
    EXPECT_EQ(r.run(), 1) << c.typed;
    EXPECT_EQ(r.file_text(), "an earlier job\n");  // neither replaced nor emptied
    EXPECT_FALSE(r.program->run.thread.started);
    EXPECT_EQ(r.errors(), c.errors) << c.typed;
    EXPECT_EQ(r.printed(), "") << c.typed;
  }
}

TEST(ProgramFlow, AnExistingFileIsReplacedAndLongLinesArriveWhole) {
  FlowRun r;
  ASSERT_TRUE(write_file(r.file, std::string(5000, '#')));
  std::string long_line = ";" + std::string(120, 'x') + "\n";
  r.generator.lines = {long_line, "G28\n"};
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);
  EXPECT_EQ(r.run(), 0);
  EXPECT_EQ(r.file_text(), long_line + "G28\n");
  // Replaced only at the end: while the lines went out, the earlier job
  // stood whole.
  EXPECT_EQ(r.generator.final_size_after_ack, (std::vector<long long>{5000, 5000}));
  EXPECT_EQ(r.others(), "");
}

TEST(ProgramFlow, ProgressOverManyLines) {
  FlowRun r;
  r.generator.note_sizes = false;
  for (int i = 0; i < 94710; ++i)
    r.generator.lines.push_back("G1 F300 E" + std::to_string(i) + "\n");
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);
  EXPECT_EQ(r.run(), 0);
  // Marks with lines 1, 47,355 and 94,710, then the closing bar.
  EXPECT_EQ(console_text(r.con(), 22, 14, 6), "|===| ");
  EXPECT_EQ(console_text(r.con(), 106, 14, 5), "  3 %");
  EXPECT_EQ(console_row(r.con(), 13), "    Writing gcode:    G1 F300 E94709");
  EXPECT_EQ(r.file_text().size(), joined(r.generator.lines).size());
}

TEST(ProgramFlow, GeneratorEndingEarlyIsReportedNotCalledCreated) {
  FlowRun r;
  ASSERT_TRUE(write_file(r.file, "an earlier job\n"));
  r.generator.lines = {"G28\n", "G1 F300 X1.000\n"};
  r.generator.send_end_marker = false;
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);
  EXPECT_EQ(r.run(), 1);
  // The lines sent were in the temporary file, which is gone with them.
  EXPECT_EQ(r.generator.file_size_after_ack, (std::vector<long long>{4, 19}));
  EXPECT_EQ(r.file_text(), "an earlier job\n");
  EXPECT_EQ(r.others(), "");
  EXPECT_TRUE(r.mem.closed);
  EXPECT_EQ(r.printed().find("Created file:"), std::string::npos);
  EXPECT_EQ(r.errors(), "Generation stopped: dagoma0.g was not changed.\n");
  EXPECT_EQ(console_row(r.con(), 15), "");
}

TEST(ProgramFlow, AFolderInTheWayIsReportedBeforeAnythingIsAsked) {
  FlowRun r;
  ASSERT_EQ(mkdir(r.file.c_str(), 0755), 0);  // a folder where the file should go
  memory_type(&r.mem, "0.4\n210\n300\n");
  EXPECT_EQ(r.run(), 1);
  EXPECT_EQ(r.mem.next, 0u);  // no key was read
  EXPECT_FALSE(r.program->run.thread.started);
  EXPECT_EQ(r.printed(), "");
  EXPECT_EQ(r.errors(), "Cannot create file dagoma0.g: Is a directory.\n");
  EXPECT_EQ(r.others(), "");
}

// The folder is held from before the dialogue: a second run there is
// refused at once, and the first one's file is left as it is.
TEST(ProgramFlow, AnotherRunInTheFolderIsReportedBeforeAnythingIsAsked) {
  FlowRun r;
  OutputFile first;
  ASSERT_EQ(output_file_create(&first, r.dir.path.c_str(), OUTPUT_FILE_NAME), 1);
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  memory_type(&r.mem, "0.4\n210\n300\n");
  EXPECT_EQ(r.run(), 1);
  EXPECT_EQ(r.mem.next, 0u);  // no key was read
  EXPECT_FALSE(r.program->run.thread.started);
  EXPECT_EQ(r.errors(), std::string(CANNOT_CREATE_TEXT) + ": " + IN_USE_REASON + ".\n");
  ASSERT_EQ(output_file_flush(&first), 1);
  ASSERT_EQ(output_file_commit(&first), 1);
  EXPECT_EQ(r.file_text(), "G28\n");
  EXPECT_EQ(r.others(), "");
}

// A long flush is announced on the Created row, which the result then
// takes over; the line dialogue prints nothing for it. The threshold 0 makes
// the notice certain however fast the flush.
TEST(ProgramFlow, ALongFlushIsAnnouncedOnTheFullScreen) {
  FlowRun r;
  r.program->saving_notice_ms = 0;
  r.generator.lines = {"G28\n"};
  memory_type(&r.mem, "0.4\n210\n300\n");
  memory_press(&r.mem, VKEY_SPACE);
  EXPECT_EQ(r.run(), 0);
  const std::string saving_row = std::string("    ") + SAVING_TEXT;
  const std::string created_row = std::string("    ") + CREATED_TEXT;
  size_t saving_at = r.mem.screens_at_show.size();
  size_t created_at = saving_at;
  for (size_t i = 0; i < r.mem.screens_at_show.size(); ++i) {
    const std::string& screen = r.mem.screens_at_show[i];
    if (saving_at == r.mem.screens_at_show.size() && screen.find(saving_row) != std::string::npos)
      saving_at = i;
    if (screen.find(created_row) != std::string::npos) {
      created_at = i;
      break;
    }
  }
  EXPECT_LT(saving_at, created_at) << "the notice stood before the result";
  EXPECT_LT(created_at, r.mem.screens_at_show.size());
  EXPECT_EQ(console_row(r.con(), 15), created_row);

  FlowRun plain(false);
  plain.program->saving_notice_ms = 0;
  plain.generator.lines = {"G28\n"};
  plain.give_lines("0.4\n210\n300\n");
  EXPECT_EQ(plain.run(), 0);
  // The result first, then what the job will take; no notice.
  EXPECT_TRUE(plain.printed().starts_with(std::string(CREATED_TEXT) + "\n")) << plain.printed();
  EXPECT_EQ(plain.printed().find(SAVING_TEXT), std::string::npos) << plain.printed();
  EXPECT_EQ(plain.errors(), "");
}

}  // namespace
