// visor-gcode on a pseudo-terminal, read through a terminal emulator: what a
// person at a terminal sees and gets.

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "job_file.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "test_support.h"

namespace {

// The window title before the program starts.
constexpr char SHELL_TITLE[] = "shell title";

// The screen the layout needs, and one a terminal commonly opens with.
constexpr int PANE_COLS = 120, PANE_ROWS = 30;
constexpr int SMALL_COLS = 80, SMALL_ROWS = 24;

// The notice a window too small for the full screen shows alone: every
// row but those of the notice is empty, and they hold it in whole words.
std::string small_notice(int cols, int rows, bool finished = false) {
  return "This window is " + std::to_string(cols) + " x " + std::to_string(rows) +
         "; the full screen needs 119 x 22. " +
         (finished ? "dagoma0.g is written: press a key to close the screen, or enlarge the "
                     "window to see it."
                   : "Enlarge the window to see the screen again.");
}

bool shows_notice_alone(const PtySession& s, bool finished = false) {
  std::string words;
  for (int row = 0; row < s.rows; ++row) {
    std::string text = pty_row_text(s, row);
    if (text.empty())
      continue;
    if (text.front() == ' ' || static_cast<int>(text.size()) > s.cols)
      return false;
    words += (words.empty() ? "" : " ") + text;
  }
  return words == small_notice(s.cols, s.rows, finished);
}

// The whole layout is on the screen, the far corners of the frame included.
bool shows_whole_layout(const PtySession& s) {
  return pty_text_at(s, BANNER_COL, BANNER_ROW, 38) == BANNER && pty_cell(s, 1, 9) != U' ' &&
         pty_cell(s, 118, 9) != U' ' && pty_cell(s, 1, 21) != U' ' && pty_cell(s, 118, 21) != U' ';
}

void expect_fixed_texts(const PtySession& s) {
  EXPECT_EQ(pty_text_at(s, BANNER_COL, BANNER_ROW, 38), BANNER);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 11, 59), OBJECT_TEXT);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 12, 36), VERSION_TEXT);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 13, 18), WRITING_TEXT);
}

// The frame's cells, rows 9 to 21 and columns 1 to 118, carry visible lines.
void expect_frame(const PtySession& s) {
  for (int col = 1; col <= 118; ++col) {
    EXPECT_NE(pty_cell(s, col, 9), U' ') << "top edge, column " << col;
    EXPECT_NE(pty_cell(s, col, 21), U' ') << "bottom edge, column " << col;
  }
  for (int row = 10; row <= 20; ++row) {
    EXPECT_NE(pty_cell(s, 1, row), U' ') << "left edge, row " << row;
    EXPECT_NE(pty_cell(s, 118, row), U' ') << "right edge, row " << row;
  }
}

// The dialogue stands at its beginning, with no error line.
void expect_dialogue_restarted(PtySession* s) {
  ASSERT_TRUE(wait_for_field(s, Z_START_FIELD));
  expect_fixed_texts(*s);
  EXPECT_EQ(pty_text_at(*s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT) << pty_screen_dump(*s);
}

void expect_terminal_restored(const PtySession& s) {
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
}

// The rows a printed line takes on a terminal `cols` wide: broken at the
// last blank that fits, the rest indented by 18, under the value.
std::vector<std::string> terminal_rows(std::string line, int cols) {
  std::vector<std::string> rows;
  std::string indent;
  while (static_cast<int>(indent.size() + line.size()) > cols) {
    size_t cut = line.rfind(' ', static_cast<size_t>(cols) - indent.size());
    rows.push_back(indent + line.substr(0, cut));
    line = line.substr(line.find_first_not_of(' ', cut));
    indent = std::string(18, ' ');
  }
  rows.push_back(indent + line);
  return rows;
}

TEST(Terminal, CompleteJobShowsProgressAndWritesTheFile) {
  TempDir dir;
  PtySession s;
  s.title = SHELL_TITLE;
  ASSERT_TRUE(start_job_on_terminal(&s, dir));
  EXPECT_EQ(s.title, "Lumenforge | Vantor");
  // Keys pressed during the job are not the one the end waits for.
  pty_type(&s, std::string("5") + std::string(KEY_ENTER) + "\x1b[15~");

  // Shrinking the window during the job leaves the notice alone on it;
  // enlarging it again brings back the whole screen, marks included.
  pty_resize(&s, SMALL_COLS, SMALL_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_notice_alone(s); }, SCREEN_MS))
      << pty_screen_dump(s);
  pty_resize(&s, PANE_COLS, PANE_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s,
      [&] { return shows_whole_layout(s) && pty_cell(s, FIRST_MARK_COL, PROGRESS_ROW) == U'='; },
      SCREEN_MS))
      << pty_screen_dump(s);

  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, JOB_MS)) << pty_screen_dump(s);
  // The screen is complete once the program waits for the closing key.
  pty_wait_quiet(&s, 300, SCREEN_MS);
  SCOPED_TRACE(pty_screen_dump(s));

  expect_fixed_texts(s);
  expect_frame(s);
  // The last line written, its line end blanked, over the 63 echo cells.
  EXPECT_EQ(pty_text_at(s, 22, 13, 63), "M109 S0" + std::string(56, ' '));
  EXPECT_EQ(pty_text_at(s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT);
  EXPECT_EQ(pty_text_at(s, FIRST_MARK_COL, PROGRESS_ROW, 84), std::string(80, '=') + "|   ");
  EXPECT_EQ(pty_text_at(s, 106, PROGRESS_ROW, 7), "  100 %");
  for (const Field* f : {&Z_START_FIELD, &HEAT_TEMP_FIELD, &SPEED_FIELD})
    EXPECT_TRUE(shows_prompt(s, *f)) << "row " << f->row;
  EXPECT_EQ(pty_text_at(s, Z_START_FIELD.first_col, 16, 10), "0.4       ");
  EXPECT_EQ(pty_text_at(s, HEAT_TEMP_FIELD.first_col, 17, 10), "210       ");
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 10), "300       ");
  // What the job will take, above the frame; below the values, the file
  // and the key that closes the screen.
  for (int i = 0; i < 4; ++i) {
    std::string text = JOB_SUMMARY_TEXTS[i];
    EXPECT_EQ(pty_row_text(s, SUMMARY_ROW + i), "    " + text);
  }
  std::string result = job_result_lines(dir);
  size_t path_at = result.find(FILE_LABEL);
  std::string file_line = result.substr(path_at, result.find('\n', path_at) - path_at);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, FILE_ROW, static_cast<int>(file_line.size())), file_line);
  EXPECT_EQ(pty_text_at(s, 83, FILE_ROW, 33), CLOSE_KEY_TEXT);
  // Nothing outside the layout.
  for (int row : {0, 1, 2, 3, 22, 23, 24, 25, 26, 27, 28, 29})
    EXPECT_EQ(pty_row_text(s, row), "") << "row " << row;
  EXPECT_FALSE(s.cursor_visible);
  EXPECT_TRUE(s.alt_screen);
  ASSERT_FALSE(s.exited) << "the program must wait for a key";
  // Made too small now, the window says that the job is written and what
  // the key does.
  pty_resize(&s, SMALL_COLS, SMALL_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_notice_alone(s, true); }, SCREEN_MS))
      << pty_screen_dump(s);
  pty_resize(&s, PANE_COLS, PANE_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, SCREEN_MS))
      << pty_screen_dump(s);

  pty_type(&s, "x");
  ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  expect_terminal_restored(s);
  EXPECT_EQ(s.title, SHELL_TITLE);
  // The result stays on the terminal after the full-screen view is gone, a
  // line too long for it broken at a blank, the rest under the value.
  for (size_t start = 0, end; (end = result.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = result.substr(start, end - start);
    for (const std::string& row : terminal_rows(line, PANE_COLS))
      EXPECT_TRUE(pty_screen_contains(s, row)) << row << "\n" << pty_screen_dump(s);
  }

  expect_complete_job(dir.file("dagoma0.g"));
}

TEST(Terminal, InvalidValueShowsErrorThenRestartsFromTheFirstField) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(enter_value(&s, HEAT_TEMP_FIELD, "210"));
  ASSERT_TRUE(enter_value(&s, SPEED_FIELD, "700"));
  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, PROGRESS_ROW, ERROR_TEXT, SCREEN_MS))
      << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 3), "700");

  expect_dialogue_restarted(&s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  // The first field takes keys again.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "5"));
  EXPECT_TRUE(wait_for_field(&s, HEAT_TEMP_FIELD));
}

TEST(Terminal, BackspaceAndDeleteRestartTheDialogue) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));

  // Backspace in the second field abandons the whole dialogue at once.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(type_into(&s, HEAT_TEMP_FIELD, "2"));
  pty_type(&s, KEY_BACKSPACE);
  expect_dialogue_restarted(&s);

  // Delete in the third field does the same.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(enter_value(&s, HEAT_TEMP_FIELD, "210"));
  ASSERT_TRUE(type_into(&s, SPEED_FIELD, "3"));
  pty_type(&s, KEY_DELETE);
  expect_dialogue_restarted(&s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  EXPECT_FALSE(s.exited);
}

// A window made too small during the dialogue shows the notice alone, its
// words whole however narrow it is; the field goes on taking keys, and the
// whole screen comes back with them when the window is large enough.
TEST(Terminal, AWindowMadeTooSmallShowsANoticeAloneUntilItIsLargeEnough) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));
  ASSERT_TRUE(type_into(&s, Z_START_FIELD, "5"));
  for (auto [cols, rows] : {std::pair{SMALL_COLS, SMALL_ROWS}, {30, SMALL_ROWS}, {118, 30}}) {
    pty_resize(&s, cols, rows);
    EXPECT_TRUE(pty_wait_until(
        &s, [&] { return shows_notice_alone(s); }, SCREEN_MS))
        << cols << " x " << rows << "\n"
        << pty_screen_dump(s);
  }
  pty_type(&s, "1");
  pty_resize(&s, 119, 22);
  ASSERT_TRUE(pty_wait_until(
      &s,
      [&] {
        return shows_whole_layout(s) && pty_text_at(s, Z_START_FIELD.first_col, 16, 3) == "51 ";
      },
      SCREEN_MS))
      << "the key typed while small is lost, or the dialogue restarted\n"
      << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  expect_fixed_texts(s);
  expect_frame(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT);
  EXPECT_TRUE(shows_prompt(s, Z_START_FIELD));
  EXPECT_FALSE(s.exited);
}

// A run waiting in its dialogue holds the folder: a second run there on the
// full screen is refused before anything is typed, and gives the terminal
// back.
TEST(Terminal, ASecondRunInTheFolderIsRefusedBeforeAnythingIsTyped) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("keys").c_str(), 0600), 0);
  pid_t first = fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    reset_signal_dispositions();
    // Its input a pipe nobody writes (but the run itself): it waits.
    if (chdir(dir.path.c_str()) == 0)
      execl("/bin/sh", "sh", "-c", "exec 3<>keys; exec \"$0\" <&3 >/dev/null 2>&1", VISOR_GCODE,
            static_cast<char*>(nullptr));
    _exit(127);
  }
  // Holding the folder once its file (of no name) is open.
  char real[PATH_MAX];
  const std::string held = std::string(realpath(dir.path.c_str(), real)) + "/#";
  auto holds = [&] {
    std::error_code error;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(first) + "/fd", error))
      if (std::filesystem::read_symlink(fd.path(), error).string().starts_with(held))
        return true;
    return false;
  };
  for (int i = 0; i < 1000 && !holds(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(holds());

  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));
  ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 1);
  EXPECT_TRUE(pty_screen_contains(s, IN_USE_TEXT)) << pty_screen_dump(s);
  expect_terminal_restored(s);
  kill(first, SIGTERM);
  int status = 0;
  waitpid(first, &status, 0);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
}

TEST(Terminal, InterruptionEndsTheProgramAndGivesTheTerminalBack) {
  {
    SCOPED_TRACE("Ctrl-C during the dialogue");
    TempDir dir;
    PtySession s;
    ASSERT_TRUE(start_on_terminal(&s, dir));
    ASSERT_TRUE(wait_for_field(&s, Z_START_FIELD));
    pty_type(&s, KEY_CTRL_C);
    ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }
  // During the job: Ctrl-C from the terminal, and termination from
  // elsewhere, seconds before the job's end.
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    PtySession s;
    ASSERT_TRUE(start_job_on_terminal(&s, dir));
    if (sig == SIGINT)
      pty_type(&s, KEY_CTRL_C);
    else
      kill(s.pid, sig);
    ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    // An interrupted job is no success, and says so where it stays visible.
    ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + sig);
    EXPECT_TRUE(pty_screen_contains(s, INTERRUPTED_TEXT)) << pty_screen_dump(s);
    EXPECT_FALSE(pty_screen_contains(s, CREATED_TEXT)) << pty_screen_dump(s);
    // No part of a job is left behind.
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
}

// The bytes of numeric keypad keys ('0' to '9', '.', '-', '\r' for its
// Enter): in application mode ESC O and DEC's letter for the key, in
// numeric mode the character itself.
std::string keypad(std::string_view keys, bool application) {
  std::string bytes;
  for (char k : keys) {
    if (!application) {
      bytes += k;
      continue;
    }
    char code = k >= '0' && k <= '9' ? static_cast<char>('p' + (k - '0'))
                : k == '.'           ? 'n'
                : k == '-'           ? 'm'
                                     : 'M';
    bytes += std::string("\x1bO") + code;
  }
  return bytes;
}

// Types bytes into the waiting field and waits until it shows `shown`.
testing::AssertionResult type_bytes(PtySession* s, const Field& f, const std::string& bytes,
                                    const std::string& shown) {
  testing::AssertionResult waiting = wait_for_field(s, f);
  if (!waiting)
    return waiting;
  pty_type(s, bytes);
  std::string want = shown + std::string(10 - shown.size(), ' ');
  if (pty_wait_until(
          s, [&] { return pty_text_at(*s, f.first_col, f.row, 10) == want; }, SCREEN_MS))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the field does not show \"" << shown << "\"\n"
                                     << pty_screen_dump(*s);
}

// The first row that holds exactly `text` from column 0, or -1.
int row_holding(const PtySession& s, const std::string& text) {
  for (int row = 0; row < s.rows; ++row)
    if (pty_row_text(s, row) == text)
      return row;
  return -1;
}

int rows_containing(const PtySession& s, const std::string& text) {
  int n = 0;
  for (int row = 0; row < s.rows; ++row)
    n += pty_row_text(s, row).find(text) != std::string::npos;
  return n;
}

// Each terminal type, as terminfo describes it, with the keys its terminal
// sends: the values typed, the job started, then ended by an interrupt key,
// and the terminal given back as it was found.
TEST(Terminal, EveryTerminalTypeReadsKeysAlikeAndIsGivenBack) {
  // A terminal description without cursor addressing.
  TempDir terminfo;
  ASSERT_TRUE(write_file(terminfo.file("nocup.src"),
                         "nocup|a terminal that cannot address the cursor,\n"
                         "\tam, cols#80, lines#24, bel=^G, cr=\\r, cud1=\\n, ind=\\n,\n"));
  std::string tic = "tic -o '" + terminfo.path + "' '" + terminfo.file("nocup.src") + "'";
  ASSERT_EQ(system(tic.c_str()), 0) << tic;

  const std::string ctrl_c(KEY_CTRL_C), ctrl_backslash = "\x1c";
  // Where the full screen cannot be used the values are asked for as lines,
  // also when standard output goes into a file, and after a line that says
  // why in a window too small for it.
  enum Mode { SCREEN, LINES, LINES_OUTPUT_TO_FILE };
  const struct {
    std::vector<std::string> env;  // for env(1)
    Mode mode;
    std::string interrupt;
    int sig;
    int cols, rows;
    bool title;  // the terminal keeps a stack of window titles
  } cases[] = {
      {{"TERM=xterm"}, SCREEN, ctrl_c, SIGINT, PANE_COLS, PANE_ROWS, true},
      // No alternate screen: the message goes under the layout, also when
      // the window holds no more than the layout.
      {{"TERM=vt100"}, SCREEN, ctrl_backslash, SIGQUIT, 119, 22, false},
      {{"TERM=vt220"}, SCREEN, ctrl_backslash, SIGQUIT, PANE_COLS, PANE_ROWS, false},
      {{"TERM=linux"}, SCREEN, ctrl_c, SIGINT, PANE_COLS, PANE_ROWS, false},
      {{"TERM=screen"}, SCREEN, ctrl_c, SIGINT, PANE_COLS, PANE_ROWS, false},
      {{"TERM=tmux"}, SCREEN, ctrl_backslash, SIGQUIT, PANE_COLS, PANE_ROWS, true},
      {{"TERM=xterm"}, SCREEN, ctrl_c, SIGINT, 119, 22, true},
      {{"TERM=xterm"}, LINES, ctrl_c, SIGINT, SMALL_COLS, SMALL_ROWS, false},
      {{"TERM=xterm"}, LINES, ctrl_backslash, SIGQUIT, 100, 30, false},
      {{"-u", "TERM"}, LINES, ctrl_c, SIGINT, PANE_COLS, PANE_ROWS, false},
      {{"TERM=no-such-terminal"}, LINES, ctrl_backslash, SIGQUIT, PANE_COLS, PANE_ROWS, false},
      {{"TERM=dumb"}, LINES, ctrl_c, SIGINT, PANE_COLS, PANE_ROWS, false},
      {{"TERMINFO=" + terminfo.path, "TERM=nocup"},
       LINES,
       ctrl_c,
       SIGINT,
       PANE_COLS,
       PANE_ROWS,
       false},
      {{}, LINES_OUTPUT_TO_FILE, ctrl_backslash, SIGQUIT, PANE_COLS, PANE_ROWS, false},
  };
  // Keys no field takes, as one terminal or another sends them: Home (three
  // ways), Insert, Page Down, F5, F12, F1 (VT100, Linux console),
  // Ctrl+Right, Alt+1, Shift+keypad 1, a sequence broken off by Escape.
  // Each is dropped whole, whatever digits it holds.
  const std::string others =
      "\x1b[1~\x1b[H\x1bOH\x1b[2~\x1b[6~\x1b[15~\x1b[24~\x1bOP\x1b[[A\x1b[1;5C\x1b"
      "1\x1bO2q\x1b[2\x1b[6~";
  for (const auto& c : cases) {
    std::vector<std::string> argv = {"/usr/bin/env"};
    argv.insert(argv.end(), c.env.begin(), c.env.end());
    if (c.mode == LINES_OUTPUT_TO_FILE)
      argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$0\" >out.txt"});
    argv.push_back(VISOR_GCODE);
    SCOPED_TRACE(testing::PrintToString(argv));
    TempDir dir;
    PtySession s;
    s.title = SHELL_TITLE;
    std::string error;
    ASSERT_TRUE(pty_start(&s, argv, c.cols, c.rows, dir.path, &error)) << error;
    // A terminal the full screen could use, but for its window's size.
    bool small = c.mode == LINES && c.env == std::vector<std::string>{"TERM=xterm"};

    if (c.mode == SCREEN) {
      // Delete starts the dialogue again.
      ASSERT_TRUE(type_into(&s, Z_START_FIELD, "5"));
      pty_type(&s, KEY_DELETE);
      // The keypad types what is printed on its keys in both modes, every
      // digit of it, and its Enter is Enter.
      ASSERT_TRUE(type_bytes(&s, Z_START_FIELD,
                             others + keypad("-1", true) + others + keypad("3.9", true) + others,
                             "-13.9"));
      pty_type(&s, keypad("\r", true));
      ASSERT_TRUE(type_bytes(&s, HEAT_TEMP_FIELD, keypad("267", true) + others, "267"));
      pty_type(&s, keypad("\r", false));
      ASSERT_TRUE(type_bytes(&s, SPEED_FIELD, keypad("0458", false), "0458"));
      pty_type(&s, keypad("\r", true));
      ASSERT_TRUE(pty_wait_for_text_at(&s, FIRST_MARK_COL, PROGRESS_ROW, "=", JOB_MS))
          << pty_screen_dump(s);
    } else {
      // The values as lines, each asked for with its prompt; a line that
      // is no value is named and shown, and the first value is asked again.
      for (const auto& [field, line] :
           {std::pair{Z_START_FIELD, "0.4\r"}, std::pair{HEAT_TEMP_FIELD, "2l0\r"},
            std::pair{Z_START_FIELD, "0.4\r"}, std::pair{HEAT_TEMP_FIELD, "210\r"},
            std::pair{SPEED_FIELD, "300\r"}}) {
        // A plain name for the lambda: Clang before 16 cannot capture a
        // structured binding.
        const char* prompt = field.prompt;
        ASSERT_TRUE(pty_wait_until(
            &s, [&] { return row_holding(s, prompt) >= 0; }, SCREEN_MS))
            << pty_screen_dump(s);
        pty_type(&s, line);
      }
      if (small) {
        std::string why = "This window is " + std::to_string(c.cols) + " x " +
                          std::to_string(c.rows) + "; the full screen needs 119 x 22.";
        EXPECT_EQ(row_holding(s, why), 0) << pty_screen_dump(s);
      }
      EXPECT_EQ(row_holding(s, std::string(Z_START_FIELD.prompt) + " 0.4"), small ? 1 : 0)
          << pty_screen_dump(s);
      EXPECT_GE(row_holding(s, std::string(ERROR_TEXT) + ": heating temperature \"2l0\""), 0)
          << pty_screen_dump(s);
      // The job runs; on a terminal its progress is one line rewritten in
      // place.
      if (c.mode == LINES) {
        ASSERT_TRUE(pty_wait_until(
            &s,
            [&] {
              return rows_containing(s, "Progress:") == 1 &&
                     !pty_screen_contains(s, "Progress:         1 %");
            },
            JOB_MS))
            << pty_screen_dump(s);
      } else {
        ASSERT_TRUE(pty_wait_until(
            &s, [&] { return read_job_file(file_being_written(dir.path)).lines > 0; }, JOB_MS));
      }
    }
    EXPECT_EQ(s.title, c.title ? "Lumenforge | Vantor" : SHELL_TITLE);

    pty_type(&s, c.interrupt);
    ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
    SCOPED_TRACE(pty_screen_dump(s));
    // Ctrl-\ does what Ctrl-C does; the message starts a line of its own.
    ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + c.sig);
    EXPECT_GE(row_holding(s, INTERRUPTED_TEXT), 0);
    if (c.mode != SCREEN) {
      EXPECT_EQ(rows_containing(s, "Progress:"), c.mode == LINES ? 1 : 0);
    }
    EXPECT_FALSE(pty_screen_contains(s, "$<")) << "padding sent as text";
    expect_terminal_restored(s);
    EXPECT_EQ(s.title, SHELL_TITLE);
    EXPECT_TRUE(s.saved_titles.empty());
    if (c.mode == LINES_OUTPUT_TO_FILE) {
      EXPECT_EQ(read_file(dir.file("out.txt")), "");
    }
  }
}

// CPU time the process has used so far, all its threads, in clock ticks;
// -1 when it cannot be read.
long process_cpu_ticks(pid_t pid) {
  std::optional<std::string> stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat)
    return -1;
  // After the name in parentheses: the state (field 3), then fields 4 to
  // 13, then the user and the system time (fields 14 and 15).
  std::istringstream fields(stat->substr(stat->rfind(')') + 1));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i >= 14)
      ticks += std::stol(field);
  return ticks;
}

// Bytes of the whole lines in the file, -1 when it cannot be read: the
// temporary file grows ahead of its lines, in steps, where it is mapped.
off_t written_size(const std::string& path) {
  std::optional<std::string> text = read_file(path);
  if (!text)
    return -1;
  size_t last = text->rfind('\n');
  return last == std::string::npos ? 0 : static_cast<off_t>(last + 1);
}

// While nothing can advance, nothing burns a CPU: the terminal takes no
// output (Ctrl-S), so the front end waits in a screen update and the
// generator for its line's acknowledgement; then the process is stopped and
// continued, and waits on. A thread that spun would use a large part of the
// second watched, however busy the machine; a sleeping one uses none. Ctrl-Q
// lets the job go on.
TEST(Terminal, NothingBurnsACpuWhileTheOutputIsStopped) {
  const long most_ticks = std::max(2L, sysconf(_SC_CLK_TCK) / 20);  // 50 ms
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_job_on_terminal(&s, dir));
  const std::string job = file_being_written(dir.path);
  pty_type(&s, KEY_CTRL_S);
  // Stalled once the file's lines stop growing.
  off_t stalled_size = -1;
  ASSERT_TRUE(pty_wait_until(
      &s,
      [&] {
        off_t before = written_size(job);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stalled_size = written_size(job);
        return stalled_size > 0 && stalled_size == before;
      },
      SCREEN_MS));

  auto ticks_over_a_second = [&] {
    long before = process_cpu_ticks(s.pid);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long after = process_cpu_ticks(s.pid);
    return before < 0 || after < 0 ? -1 : after - before;
  };
  long stalled_ticks = ticks_over_a_second();
  ASSERT_EQ(kill(s.pid, SIGSTOP), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(kill(s.pid, SIGCONT), 0);
  long continued_ticks = ticks_over_a_second();
  EXPECT_GE(stalled_ticks, 0);
  EXPECT_LE(stalled_ticks, most_ticks);
  EXPECT_GE(continued_ticks, 0);
  EXPECT_LE(continued_ticks, most_ticks);
  EXPECT_EQ(written_size(job), stalled_size);

  pty_type(&s, KEY_CTRL_Q);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return written_size(job) > stalled_size; }, JOB_MS));
  pty_type(&s, KEY_CTRL_C);
  ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
  expect_terminal_restored(s);
}

}  // namespace
