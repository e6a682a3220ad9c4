// The pseudo-terminal harness against plain shell commands, so that its own
// faults show up apart from the program's.

#include "pty_session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "test_support.h"

namespace {

constexpr int GUARD_MS = 20000;

std::vector<std::string> shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

void start(PtySession* s, const std::string& script, int cols, int rows,
           const std::string& cwd = "/") {
  std::string error;
  ASSERT_TRUE(pty_start(s, shell(script), cols, rows, cwd, &error)) << error;
}

TEST(PtySession, PlacesTextInTheCellsTheProgramAddresses) {
  PtySession s;
  // Rows and columns count from 0 here, from 1 in the escape sequence; the
  // third text uses a repeat sequence, which ncurses emits for runs of one
  // character.
  start(&s,
        "printf '\\033[2J\\033[5;36Hbanner\\033[30;1Hbottom"
        "\\033[15;24H=\\033[4b|'; sleep 30",
        120, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "bottom", GUARD_MS)) << pty_screen_dump(s);
  ASSERT_TRUE(pty_wait_for_text(&s, "|", GUARD_MS)) << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, 35, 4, 6), "banner");
  EXPECT_EQ(pty_cell(s, 34, 4), U' ');
  EXPECT_EQ(pty_cell(s, 35, 4), U'b');
  EXPECT_EQ(pty_row_text(s, 29), "bottom");
  EXPECT_EQ(pty_text_at(s, 23, 14, 6), "=====|");
  EXPECT_EQ(pty_row_text(s, 0), "");
  EXPECT_TRUE(pty_screen_contains(s, "anne"));
  EXPECT_FALSE(pty_screen_contains(s, "banner bottom"));
  // Off the screen there is nothing.
  EXPECT_EQ(pty_cell(s, 120, 0), U'\0');
  EXPECT_EQ(pty_text_at(s, 118, 4, 5).size(), 2u);
}

TEST(PtySession, ShowsLineDrawingCharactersOfTheDecGraphicsSet) {
  PtySession s;
  // What ncurses sends for a box when the locale is not UTF-8.
  start(&s, "printf '\\033[3;2H\\033(0lqk\\033(Bx'; sleep 30", 120, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "x", GUARD_MS)) << pty_screen_dump(s);
  EXPECT_EQ(pty_cell(s, 1, 2), U'\u250c');
  EXPECT_EQ(pty_cell(s, 2, 2), U'\u2500');
  EXPECT_EQ(pty_cell(s, 3, 2), U'\u2510');
  EXPECT_EQ(pty_text_at(s, 1, 2, 3), "\u250c\u2500\u2510");
  EXPECT_EQ(pty_cell(s, 4, 2), U'x');
}

TEST(PtySession, TracksCursorVisibilityAlternateScreenAndModes) {
  PtySession s;
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  start(&s,
        "stty -echo -icanon; tput smcup; tput civis; echo inside; read x; "
        "tput cnorm; tput rmcup; stty echo icanon; echo restored",
        120, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "inside", GUARD_MS)) << pty_screen_dump(s);
  EXPECT_FALSE(s.cursor_visible);
  EXPECT_TRUE(s.alt_screen);
  EXPECT_FALSE(pty_modes_restored(s));
  pty_type(&s, KEY_ENTER);
  ASSERT_TRUE(pty_wait_exit(&s, GUARD_MS)) << pty_screen_dump(s);
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
  // Back on the main screen, which never showed "inside".
  EXPECT_TRUE(pty_screen_contains(s, "restored")) << pty_screen_dump(s);
  EXPECT_FALSE(pty_screen_contains(s, "inside")) << pty_screen_dump(s);
}

TEST(PtySession, NoticesModesLeftChanged) {
  PtySession s;
  start(&s, "stty raw -echo", 120, 30);
  ASSERT_TRUE(pty_wait_exit(&s, GUARD_MS));
  EXPECT_FALSE(pty_modes_restored(s));
}

TEST(PtySession, SendsKeysAsATerminalDoes) {
  PtySession s;
  // Raw mode shows each byte as it arrives, Enter included.
  start(&s, "stty raw -echo; echo ready; head -c 8 | od -An -tx1; sleep 30", 120, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "ready", GUARD_MS));
  pty_type(&s, "a");
  pty_type(&s, KEY_ENTER);
  pty_type(&s, KEY_BACKSPACE);
  pty_type(&s, KEY_DELETE);
  pty_type(&s, KEY_CTRL_C);
  ASSERT_TRUE(pty_wait_for_text(&s, "61 0d 7f 1b 5b 33 7e 03", GUARD_MS)) << pty_screen_dump(s);
}

TEST(PtySession, CtrlCInterruptsTheForegroundProgram) {
  PtySession s;
  start(&s, "echo ready; exec sleep 60", 120, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "ready", GUARD_MS));
  pty_wait_quiet(&s, 100, GUARD_MS);
  pty_type(&s, KEY_CTRL_C);
  ASSERT_TRUE(pty_wait_exit(&s, GUARD_MS));
  ASSERT_TRUE(WIFSIGNALED(s.wait_status));
  EXPECT_EQ(WTERMSIG(s.wait_status), SIGINT);
}

TEST(PtySession, RunsInTheGivenDirectoryWithSizeAndTerminalType) {
  TempDir dir;
  PtySession s;
  start(&s, "pwd; stty size; echo \"$TERM\"; tput cols; exit 3", 100, 40, dir.path);
  ASSERT_TRUE(pty_wait_exit(&s, GUARD_MS)) << pty_screen_dump(s);
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 3);
  // A temporary directory may be reached through a symbolic link.
  EXPECT_TRUE(pty_screen_contains(s, "visor-test-")) << pty_screen_dump(s);
  EXPECT_EQ(pty_row_text(s, 1), "40 100") << pty_screen_dump(s);
  EXPECT_EQ(pty_row_text(s, 2), PTY_TERM);
  EXPECT_EQ(pty_row_text(s, 3), "100");
}

TEST(PtySession, ResizeTellsTheProgramAndTheEmulator) {
  PtySession s;
  start(&s,
        "trap 'stty size; exit 0' WINCH; echo ready; "
        "while :; do sleep 0.05; done",
        80, 24);
  ASSERT_TRUE(pty_wait_for_text(&s, "ready", GUARD_MS));
  pty_resize(&s, 120, 30);
  EXPECT_EQ(s.cols, 120);
  EXPECT_EQ(s.rows, 30);
  ASSERT_TRUE(pty_wait_for_text(&s, "30 120", GUARD_MS)) << pty_screen_dump(s);
  ASSERT_TRUE(pty_wait_exit(&s, GUARD_MS));
  // The emulator has the new width too: a cell past column 80 is on screen.
  EXPECT_EQ(pty_cell(s, 110, 29), U' ');
}

TEST(PtySession, TimeOutEndsAWaitForTextThatNeverComes) {
  PtySession s;
  start(&s, "echo something; sleep 30", 120, 30);
  EXPECT_FALSE(pty_wait_for_text(&s, "nothing like it", 300));
  EXPECT_FALSE(pty_wait_exit(&s, 100));
  EXPECT_TRUE(pty_screen_contains(s, "something"));
}

TEST(PtySession, WaitsForTextAtAPlace) {
  PtySession s;
  start(&s, "printf 'late\\n'; sleep 0.3; printf '\\033[3;5Hlate'; sleep 30", 120, 30);
  ASSERT_TRUE(pty_wait_for_text_at(&s, 4, 2, "late", GUARD_MS)) << pty_screen_dump(s);
  EXPECT_EQ(pty_row_text(s, 0), "late");
}

}  // namespace
