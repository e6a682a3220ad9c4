// visor-gcode on a pseudo-terminal, read through a terminal emulator: what a
// person at a terminal sees and gets.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "job_file.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "temp_dir.h"

namespace {

// Time-outs only guard against a hang; nothing here measures speed.
constexpr int kScreenMs = 30000;
constexpr int kJobMs = 600000;

// The screen the layout needs, and one a terminal commonly opens with.
constexpr int kCols = 120, kRows = 30;
constexpr int kSmallCols = 80, kSmallRows = 24;

// Columns of the progress bar: 80 marks and the closing sign.
constexpr int kFirstMarkCol = 23, kMarks = 80, kPercentCol = 106;

void start_program(PtySession* s, const TempDir& dir, int cols, int rows) {
  ASSERT_FALSE(dir.path.empty());
  std::string error;
  ASSERT_TRUE(pty_start(s, {VISOR_GCODE}, cols, rows, dir.path, &error)) << error;
}

// The same through env(1), which first sets or removes variables
// ("TERM=vt100"; "-u", "TERM").
void start_with_env(PtySession* s, const TempDir& dir, const std::vector<std::string>& env,
                    int cols, int rows) {
  ASSERT_FALSE(dir.path.empty());
  std::vector<std::string> argv = {"/usr/bin/env"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(VISOR_GCODE);
  std::string error;
  ASSERT_TRUE(pty_start(s, argv, cols, rows, dir.path, &error)) << error;
}

// The title a terminal has before the program starts.
constexpr char kShellTitle[] = "shell title";

bool shows_prompt(const PtySession& s, const Field& f) {
  std::string prompt = f.prompt;
  return pty_text_at(s, TEXT_COL, f.row, static_cast<int>(prompt.size())) == prompt;
}

bool row_is_blank(const PtySession& s, int row) { return pty_row_text(s, row).empty(); }

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

// Inside the frame: columns 2 to 117.
bool framed_row_is_blank(const PtySession& s, int row) {
  return pty_text_at(s, 2, row, 116) == std::string(116, ' ');
}

// Types a value into a field once its prompt stands and the program waits
// for keys, checking the echo of every character, then presses Enter.
void enter_value(PtySession* s, const Field& f, const std::string& text) {
  ASSERT_TRUE(pty_wait_until(
      s, [&] { return shows_prompt(*s, f); }, kScreenMs))
      << "no prompt on row " << f.row << "\n"
      << pty_screen_dump(*s);
  // Input is flushed before each field: keys go in once the program is idle.
  pty_wait_quiet(s, 100, kScreenMs);
  for (size_t i = 0; i < text.size(); ++i) {
    pty_type(s, text.substr(i, 1));
    int col = f.first_col + static_cast<int>(i);
    ASSERT_TRUE(pty_wait_until(
        s, [&] { return pty_cell(*s, col, f.row) == char32_t(text[i]); }, kScreenMs))
        << "no echo of '" << text[i] << "' at column " << col << "\n"
        << pty_screen_dump(*s);
  }
  pty_type(s, KEY_ENTER);
}

// The dialogue stands at its beginning: the first prompt with an empty field
// and nothing typed anywhere else.
bool dialogue_at_start(const PtySession& s) {
  return shows_prompt(s, Z_START_FIELD) &&
         pty_text_at(s, Z_START_FIELD.first_col, Z_START_FIELD.row, 10) == std::string(10, ' ') &&
         framed_row_is_blank(s, HEAT_TEMP_FIELD.row) && framed_row_is_blank(s, SPEED_FIELD.row);
}

// A line naming the size the layout needs. The echo row is left out: a
// G-code line can hold any numbers.
bool shows_size_notice(const PtySession& s) {
  for (int row = 0; row < s.rows; ++row) {
    if (row == 13)
      continue;
    std::string text = pty_row_text(s, row);
    if (text.find("119") != std::string::npos && text.find("22") != std::string::npos)
      return true;
  }
  return false;
}

// The whole layout is on the screen, the far corners of the frame included,
// and the size notice is gone.
bool shows_whole_layout(const PtySession& s) {
  return pty_text_at(s, BANNER_COL, BANNER_ROW, 38) == BANNER && pty_cell(s, 1, 9) != U' ' &&
         pty_cell(s, 118, 9) != U' ' && pty_cell(s, 1, 21) != U' ' &&
         pty_cell(s, 118, 21) != U' ' && !shows_size_notice(s);
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

void expect_terminal_restored(const PtySession& s) {
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
}

TEST(Terminal, CompleteJobShowsProgressAndWritesTheFile) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);
  s.title = kShellTitle;
  enter_value(&s, Z_START_FIELD, "0.4");
  EXPECT_EQ(s.title, "Lumenforge | Vantor");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  enter_value(&s, SPEED_FIELD, "300");

  // The job runs. Keys pressed during it are not the one the end waits
  // for. Shrinking the window brings the size notice; enlarging it again
  // brings back the whole screen, marks included.
  ASSERT_TRUE(pty_wait_for_text_at(&s, kFirstMarkCol, 14, "=", kJobMs)) << pty_screen_dump(s);
  pty_type(&s, "5");
  pty_type(&s, KEY_ENTER);
  pty_type(&s, "\x1b[15~");
  pty_resize(&s, kSmallCols, kSmallRows);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, kScreenMs))
      << pty_screen_dump(s);
  pty_resize(&s, kCols, kRows);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, kScreenMs))
      << pty_screen_dump(s);

  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, kJobMs)) << pty_screen_dump(s);
  // The screen is complete once the program waits for the closing key.
  pty_wait_quiet(&s, 300, kScreenMs);
  SCOPED_TRACE(pty_screen_dump(s));

  expect_fixed_texts(s);
  expect_frame(s);
  // The last line written, its line end blanked, over the 63 echo cells.
  EXPECT_EQ(pty_text_at(s, 22, 13, 63), "M109 S0" + std::string(56, ' '));
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_EQ(pty_text_at(s, kFirstMarkCol, 14, kMarks + 1), std::string(kMarks, '=') + "|");
  EXPECT_EQ(pty_text_at(s, kFirstMarkCol + kMarks + 1, 14, 3), "   ");
  EXPECT_EQ(pty_text_at(s, kPercentCol, 14, 7), "  100 %");
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 15, 50), CREATED_TEXT);
  for (const Field* f : {&Z_START_FIELD, &HEAT_TEMP_FIELD, &SPEED_FIELD})
    EXPECT_TRUE(shows_prompt(s, *f)) << "row " << f->row;
  EXPECT_EQ(pty_text_at(s, Z_START_FIELD.first_col, 16, 10), "0.4       ");
  EXPECT_EQ(pty_text_at(s, HEAT_TEMP_FIELD.first_col, 17, 10), "210       ");
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 10), "300       ");
  // Nothing outside the layout.
  for (int row : {0, 1, 2, 3, 5, 6, 7, 8, 22, 23, 24, 25, 26, 27, 28, 29})
    EXPECT_TRUE(row_is_blank(s, row)) << "row " << row;
  EXPECT_FALSE(s.cursor_visible);
  EXPECT_TRUE(s.alt_screen);
  ASSERT_FALSE(s.exited) << "the program must wait for a key";

  pty_type(&s, "x");
  ASSERT_TRUE(pty_wait_exit(&s, kScreenMs));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  expect_terminal_restored(s);
  EXPECT_EQ(s.title, kShellTitle);
  // The result stays on the terminal after the full-screen view is gone.
  EXPECT_TRUE(pty_screen_contains(s, CREATED_TEXT)) << pty_screen_dump(s);

  expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
}

TEST(Terminal, InvalidValueShowsErrorThenRestartsFromTheFirstField) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);
  enter_value(&s, Z_START_FIELD, "0.4");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  enter_value(&s, SPEED_FIELD, "700");
  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 14, ERROR_TEXT, kScreenMs)) << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 3), "700");

  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  expect_fixed_texts(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_FALSE(pty_screen_contains(s, "typed number is invalid"));
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  // The first field takes keys again.
  enter_value(&s, Z_START_FIELD, "5");
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, HEAT_TEMP_FIELD); }, kScreenMs))
      << pty_screen_dump(s);
}

TEST(Terminal, BackspaceAndDeleteRestartTheDialogue) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);

  // Backspace in the second field abandons the whole dialogue at once.
  enter_value(&s, Z_START_FIELD, "0.4");
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, HEAT_TEMP_FIELD); }, kScreenMs));
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "2");
  ASSERT_TRUE(pty_wait_for_text_at(&s, HEAT_TEMP_FIELD.first_col, 17, "2", kScreenMs));
  pty_type(&s, KEY_BACKSPACE);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  expect_fixed_texts(s);
  // No error line for an abort key.
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT) << pty_screen_dump(s);

  // Delete in the third field does the same.
  enter_value(&s, Z_START_FIELD, "0.4");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, SPEED_FIELD); }, kScreenMs));
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "3");
  ASSERT_TRUE(pty_wait_for_text_at(&s, SPEED_FIELD.first_col, 18, "3", kScreenMs));
  pty_type(&s, KEY_DELETE);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT) << pty_screen_dump(s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, SmallTerminalTellsTheSizeNeededAndRedrawsWhenEnlarged) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kSmallCols, kSmallRows);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, kScreenMs))
      << pty_screen_dump(s);
  // In a narrow window the notice wraps onto as many rows as it needs.
  pty_resize(&s, 30, kSmallRows);
  const std::string notice =
      "Please enlarge this window to at least 119 x 22 characters (it is 30 x 24).";
  EXPECT_TRUE(pty_wait_until(
      &s,
      [&] {
        std::string words;
        for (int row = 0; row < s.rows; ++row)
          words += pty_row_text(s, row) + " ";
        return words.find(notice) != std::string::npos;
      },
      kScreenMs))
      << pty_screen_dump(s);
  pty_resize(&s, kSmallCols, kSmallRows);
  // Still usable: the first field takes a key while the window is small.
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "5");
  pty_wait_quiet(&s, 100, kScreenMs);

  pty_resize(&s, kCols, kRows);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, kScreenMs))
      << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  EXPECT_EQ(pty_cell(s, Z_START_FIELD.first_col, 16), U'5')
      << "the key typed while small is lost, or the dialogue restarted";
  expect_fixed_texts(s);
  expect_frame(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_TRUE(shows_prompt(s, Z_START_FIELD));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, InterruptKeysEndTheProgramAndRestoreTheTerminal) {
  {
    SCOPED_TRACE("during the dialogue");
    TempDir dir;
    PtySession s;
    start_program(&s, dir, kCols, kRows);
    ASSERT_TRUE(pty_wait_until(
        &s, [&] { return shows_prompt(s, Z_START_FIELD); }, kScreenMs));
    pty_wait_quiet(&s, 100, kScreenMs);
    pty_type(&s, KEY_CTRL_C);
    ASSERT_TRUE(pty_wait_exit(&s, kScreenMs)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }
  // During the job the message says what became of the file. On a terminal
  // without an alternate screen the layout stays, and the message goes
  // below it, from column 0, also when the window holds no more than the
  // layout. Ctrl-\ does what Ctrl-C does.
  const struct {
    const char* term;
    std::string_view key;
    int sig;
    int rows;
  } cases[] = {
      {"xterm-256color", KEY_CTRL_C, SIGINT, kRows},
      {"linux", KEY_CTRL_C, SIGINT, kRows},
      {"vt100", "\x1c", SIGQUIT, 22},
      {"vt220", "\x1c", SIGQUIT, kRows},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("during the job, TERM=") + c.term);
    TempDir dir;
    PtySession s;
    start_with_env(&s, dir, {std::string("TERM=") + c.term}, kCols, c.rows);
    enter_value(&s, Z_START_FIELD, "0.4");
    enter_value(&s, HEAT_TEMP_FIELD, "210");
    enter_value(&s, SPEED_FIELD, "300");
    ASSERT_TRUE(pty_wait_for_text_at(&s, kFirstMarkCol, 14, "=", kJobMs)) << pty_screen_dump(s);
    pty_type(&s, c.key);
    ASSERT_TRUE(pty_wait_exit(&s, kScreenMs)) << pty_screen_dump(s);
    SCOPED_TRACE(pty_screen_dump(s));
    expect_terminal_restored(s);
    // An interrupted job is no success, and says so where it stays visible.
    ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + c.sig);
    int row = row_holding(s, INTERRUPTED_TEXT);
    EXPECT_GE(row, 0) << "the message is not a line of its own";
    EXPECT_FALSE(pty_screen_contains(s, CREATED_TEXT));
    EXPECT_FALSE(pty_screen_contains(s, "$<")) << "padding sent as text";
    // The part written is whole lines only, and not the whole job.
    JobFile job = read_job_file(dir.file("dagoma0.g"), 1, 0);
    ASSERT_TRUE(job.opened);
    EXPECT_TRUE(job.bytes == 0 || job.ends_with_newline);
    EXPECT_LT(job.lines, COMPLETE_JOB_LINES);
    EXPECT_FALSE(job.has_end_marker);
  }
}

// The bytes of a numeric keypad key ('0' to '9', '.', '-', '\n' for its
// Enter): in application mode ESC O and DEC's letter for the key, in
// numeric mode the character itself.
std::string keypad(const std::string& keys, bool application) {
  std::string bytes;
  for (char k : keys) {
    if (!application) {
      bytes += k == '\n' ? '\r' : k;
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

// Types into a field once it waits for keys, and waits for what it shows.
void type_into(PtySession* s, const Field& f, const std::string& bytes, const std::string& shown) {
  ASSERT_TRUE(pty_wait_until(
      s, [&] { return shows_prompt(*s, f); }, kScreenMs))
      << pty_screen_dump(*s);
  pty_wait_quiet(s, 100, kScreenMs);
  pty_type(s, bytes);
  std::string want = shown + std::string(10 - shown.size(), ' ');
  pty_wait_until(
      s, [&] { return pty_text_at(*s, f.first_col, f.row, 10) == want; }, kScreenMs / 3);
  EXPECT_EQ(pty_text_at(*s, f.first_col, f.row, 10), want) << pty_screen_dump(*s);
}

TEST(Terminal, KeysAreReadAlikeOnEveryTerminalType) {
  // Keys no field takes, as one terminal or another sends them: Home (three
  // ways), Insert, Page Down, F5, F12, F1 (VT100, Linux console),
  // Ctrl+Right, Alt+1, Shift+keypad 1. Each is dropped whole.
  const std::string others =
      "\x1b[1~\x1b[H\x1bOH\x1b[2~\x1b[6~\x1b[15~\x1b[24~\x1bOP\x1b[[A\x1b[1;5C\x1b"
      "1\x1bO2q";
  const char* const terms[] = {"xterm", "xterm-256color", "vt100", "vt220",
                               "linux", "screen",         "tmux"};
  for (const char* term : terms) {
    SCOPED_TRACE(std::string("TERM=") + term);
    TempDir dir;
    PtySession s;
    start_with_env(&s, dir, {std::string("TERM=") + term}, kCols, kRows);
    // The keypad types what is printed on its keys in both modes, and its
    // Enter is Enter.
    type_into(&s, Z_START_FIELD,
              others + keypad("-", true) + others + keypad("1.", true) + others + keypad("7", true),
              "-1.7");
    pty_type(&s, keypad("\n", true));
    type_into(&s, HEAT_TEMP_FIELD, keypad("209", false), "209");
    pty_type(&s, keypad("\n", false));
    type_into(&s, SPEED_FIELD, keypad("834560291", true) + others, "834560291");
    // Delete starts the dialogue again on every terminal.
    pty_type(&s, "\x1b[3~");
    EXPECT_TRUE(pty_wait_until(
        &s, [&] { return dialogue_at_start(s); }, kScreenMs))
        << pty_screen_dump(s);
  }
}

TEST(Terminal, TheWindowTitleIsGivenBack) {
  // Terminals that keep a stack of titles; the end by an interrupt, and by
  // a failure (the folder is gone when the file is to be made).
  for (const char* term : {"xterm-256color", "tmux"}) {
    for (bool interrupted : {true, false}) {
      SCOPED_TRACE(std::string("TERM=") + term + (interrupted ? ", Ctrl-C" : ", failure"));
      TempDir dir;
      PtySession s;
      start_with_env(&s, dir, {std::string("TERM=") + term}, kCols, kRows);
      s.title = kShellTitle;
      enter_value(&s, Z_START_FIELD, "0.4");
      enter_value(&s, HEAT_TEMP_FIELD, "210");
      EXPECT_EQ(s.title, "Lumenforge | Vantor");
      if (interrupted) {
        pty_type(&s, KEY_CTRL_C);
      } else {
        ASSERT_EQ(rmdir(dir.path.c_str()), 0);
        enter_value(&s, SPEED_FIELD, "300");
      }
      ASSERT_TRUE(pty_wait_exit(&s, kScreenMs)) << pty_screen_dump(s);
      EXPECT_EQ(s.title, kShellTitle);
      EXPECT_TRUE(s.saved_titles.empty());
      expect_terminal_restored(s);
    }
  }
}

// Where the full screen cannot be used although a person types at a
// terminal, the values are asked for as lines with their prompts.
TEST(Terminal, WithoutAUsableFullScreenTheValuesAreAskedForAsLines) {
  // A terminal description without cursor addressing.
  TempDir terminfo;
  ASSERT_TRUE(write_file(terminfo.file("nocup.src"),
                         "nocup|a terminal that cannot address the cursor,\n"
                         "\tam, cols#80, lines#24, bel=^G, cr=\\r, cud1=\\n, ind=\\n,\n"));
  std::string tic = "tic -o '" + terminfo.path + "' '" + terminfo.file("nocup.src") + "'";
  ASSERT_EQ(system(tic.c_str()), 0) << tic;

  const std::string z_prompt = std::string(Z_START_FIELD.prompt) + " ";
  const std::string heat_prompt = std::string(HEAT_TEMP_FIELD.prompt) + " ";
  const struct {
    const char* what;
    std::vector<std::string> argv;
  } cases[] = {
      {"TERM unset", {"/usr/bin/env", "-u", "TERM", VISOR_GCODE}},
      {"TERM unknown", {"/usr/bin/env", "TERM=no-such-terminal", VISOR_GCODE}},
      {"TERM=dumb", {"/usr/bin/env", "TERM=dumb", VISOR_GCODE}},
      {"no cursor addressing",
       {"/usr/bin/env", "TERMINFO=" + terminfo.path, "TERM=nocup", VISOR_GCODE}},
      // The prompts then go to standard error, the terminal.
      {"output into a file", {"/bin/sh", "-c", "exec \"$0\" >out.txt", VISOR_GCODE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    PtySession s;
    std::string error;
    ASSERT_TRUE(pty_start(&s, c.argv, kCols, kRows, dir.path, &error)) << error;
    ASSERT_TRUE(pty_wait_for_text(&s, Z_START_FIELD.prompt, kScreenMs)) << pty_screen_dump(s);
    pty_type(&s, "0.4\r");
    ASSERT_TRUE(pty_wait_for_text(&s, HEAT_TEMP_FIELD.prompt, kScreenMs)) << pty_screen_dump(s);
    pty_type(&s, "2l0\r");
    // The line is refused, named and shown, and the first value asked again.
    ASSERT_TRUE(pty_wait_until(
        &s, [&] { return rows_containing(s, Z_START_FIELD.prompt) == 2; }, kScreenMs))
        << pty_screen_dump(s);
    SCOPED_TRACE(pty_screen_dump(s));
    EXPECT_GE(row_holding(s, std::string(ERROR_TEXT) + ": heating temperature \"2l0\""), 0);
    EXPECT_EQ(row_holding(s, z_prompt + "0.4"), 0);
    EXPECT_EQ(row_holding(s, heat_prompt + "2l0"), 1);
    EXPECT_FALSE(pty_screen_contains(s, BANNER));
    // The end of the input (Ctrl-D) at the prompt: a message of its own.
    pty_type(&s, "\x04");
    ASSERT_TRUE(pty_wait_exit(&s, kScreenMs));
    EXPECT_GE(row_holding(s, NO_INPUT_TEXT), 0) << pty_screen_dump(s);
    ASSERT_TRUE(WIFEXITED(s.wait_status));
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 1);
    EXPECT_TRUE(pty_modes_restored(s));
    std::string out;
    if (read_file(dir.file("out.txt"), &out)) {
      EXPECT_EQ(out, "");
    }
  }

  // A whole job: the progress is one line rewritten in place, the result
  // follows on the next, and no key is waited for.
  TempDir dir;
  PtySession s;
  start_with_env(&s, dir, {"TERM=dumb"}, kCols, kRows);
  for (const auto& [field, value] :
       {std::pair{Z_START_FIELD, "0.4\r"}, std::pair{HEAT_TEMP_FIELD, "210\r"},
        std::pair{SPEED_FIELD, "300\r"}}) {
    ASSERT_TRUE(pty_wait_for_text(&s, field.prompt, kScreenMs)) << pty_screen_dump(s);
    pty_type(&s, value);
  }
  ASSERT_TRUE(pty_wait_exit(&s, kJobMs)) << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  EXPECT_EQ(rows_containing(s, "Progress:"), 1);
  int row = row_holding(s, "Progress:         100 %");
  EXPECT_EQ(row, 3);
  EXPECT_EQ(pty_row_text(s, row + 1), CREATED_TEXT);
  expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
}

}  // namespace
