// visor-gcode.exe on a real Windows console (one without a window): the
// dialogue is typed as the console's key events, and the screen is read
// back from the console's screen buffer, attributes included.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console_fixture.h"
#include "test_support.h"

#ifndef VISOR_GCODE_EXE
#error "VISOR_GCODE_EXE names the program under test"
#endif
#ifndef GCODE_DUMP_EXE
#error "GCODE_DUMP_EXE names the tool that writes the reference job"
#endif

namespace {

// Time-outs only guard against a hang; a complete job under Wine takes
// about half a minute.
constexpr unsigned START_MS = 60000;
constexpr unsigned JOB_MS = 600000;

const char* const PROMPTS[] = {
    "Enter calibrating point (number between -40.000 and 200.000):",
    "Enter heating temperature (depends on filament number between 170 and 270):",
    "Enter speed value (300 strongly encouraged 600 maximum):",
};
const char CREATED[] = "Created file:     dagoma0.g (in current directory)";
const char ERROR_LINE[] = "Error:            typed number is invalid";
// What the job for -12.5 / 210 / 300 will take: the calibrating point sends
// the nozzle below the bed.
const char TIME_LINE[] = "Print time:       21 h 53 min    Filament: 44.21 m (132 g of PLA)";
const char PAUSES_LINE[] = "Pauses:           2 s at Z -6.900, 2 s at Z -6.900, 60 s at Z 36.000";
const char HEIGHT_LINE[] = "Height:           Z -12.500 to 181.253 mm";
const char WARNING_LINE[] = "Warning: the job goes below Z 0, the DiscoEasy200's bed.";
// The program, started by its full path, names itself by it.
const std::string COPY_CHECK_LINE =
    std::string("After copying:    ") + VISOR_GCODE_EXE + " --check <card>/dagoma0.g";
const char FOOTPRINT_LINE[] = "Footprint:        X -90.000 to 93.800, Y -96.398 to 74.000 mm";
const char CLOSE_KEY[] = "Press a key to close this screen.";

// Everything after the first line, which holds the time of day.
std::string without_first_line(const std::string& text) {
  size_t end = text.find('\n');
  return end == std::string::npos ? std::string() : text.substr(end + 1);
}

DWORD run_and_wait(const std::string& command, const std::string& dir, unsigned timeout_ms) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string line = command;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      dir.c_str(), &si, &pi))
    return 0xFFFFFFFF;
  DWORD status = 0xFFFFFFFF;
  if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &status);
  else
    TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return status;
}

// The program, started in this process's console with the console as its
// standard input and output, as when it is started from a command prompt.
class DialogueWin32 : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(open_test_console(&tc, true));
    FlushConsoleInputBuffer(tc.in);
    // A clean screen, so that a text found is the program's.
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(tc.out, &info));
    DWORD done = 0;
    FillConsoleOutputCharacterA(tc.out, ' ', info.dwSize.X * info.dwSize.Y, {0, 0}, &done);
    FillConsoleOutputAttribute(tc.out, 7, info.dwSize.X * info.dwSize.Y, {0, 0}, &done);
  }
  void TearDown() override {
    if (pi.hProcess != nullptr) {
      if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, INFINITE);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    close_test_console(&tc);
  }

  void start(const std::string& dir, DWORD flags = 0) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = tc.in;
    si.hStdOutput = tc.out;
    si.hStdError = tc.out;
    std::string command = std::string("\"") + VISOR_GCODE_EXE + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, flags, nullptr,
                               dir.c_str(), &si, &pi));
  }

  // Types one value once its prompt stands on the screen: the program has
  // flushed the console input by then, so no key typed is lost.
  void answer(int field, const char* text) {
    ASSERT_TRUE(wait_for_screen_text(tc, 4, 16 + field, PROMPTS[field], START_MS))
        << "prompt " << field;
    type_text(tc, text);
  }

  DWORD wait_for_exit(unsigned timeout_ms) {
    if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0)
      return 0xFFFFFFFF;
    DWORD status = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &status);
    return status;
  }

  TestConsole tc;
  PROCESS_INFORMATION pi = {};
};

// This test process lets Ctrl+C pass by; the program it starts ends on it.
BOOL WINAPI ignore_control_event(DWORD) { return TRUE; }

TEST_F(DialogueWin32, CompleteJobFromTypedValues) {
  TempDir dir;
  start(dir.path);

  ASSERT_TRUE(wait_for_screen_text(tc, 4, 16, PROMPTS[0], START_MS));
  // The screen is brought up to date from the top row down, the cursor
  // last: the first prompt can stand there a moment before the rest.
  CONSOLE_CURSOR_INFO cursor = {};
  EXPECT_TRUE(wait_until(
      [&] {
        return screen_attr(tc, 1, 21) == 0x0407 && GetConsoleCursorInfo(tc.out, &cursor) &&
               !cursor.bVisible;
      },
      START_MS));
  // The screen as drawn, before the first key.
  EXPECT_EQ(screen_text(tc, 35, 4, 38), "Lumenforge - 3d vantor dagoma printing");
  EXPECT_EQ(screen_attr(tc, 35, 4), 6);
  EXPECT_EQ(screen_text(tc, 4, 11, 59),
            "3d object:        visor with holes for plexiglas or glasses");
  EXPECT_EQ(screen_text(tc, 4, 12, 36), "Version:          1.2.0 - 11/11/2024");
  EXPECT_EQ(screen_text(tc, 4, 14, 19), "Progress:         |");
  EXPECT_EQ(screen_attr(tc, 4, 11), 7);
  // The frame is drawn by the grid-line bits of the attributes.
  EXPECT_EQ(screen_attr(tc, 1, 9), 0x0C07);
  EXPECT_EQ(screen_attr(tc, 60, 9), 0x0407);
  EXPECT_EQ(screen_attr(tc, 118, 9), 0x1407);
  EXPECT_EQ(screen_attr(tc, 118, 15), 0x1007);
  EXPECT_EQ(screen_attr(tc, 1, 21), 0x0407);
  EXPECT_EQ(screen_attr(tc, 118, 21), 0x0407);
  EXPECT_EQ(screen_attr(tc, 1, 15), 0x0807);
  EXPECT_EQ(screen_attr(tc, 2, 15), 7);
  char title[64] = {};
  GetConsoleTitleA(title, sizeof title);
  EXPECT_STREQ(title, "Lumenforge | Vantor");
  EXPECT_EQ(GetConsoleOutputCP(), 28591u);
  EXPECT_EQ(GetConsoleCP(), 28591u);

  answer(0, "-12.5");
  EXPECT_TRUE(wait_for_screen_text(tc, 67, 16, "-12.5", START_MS));
  type_text(tc, "\n");
  answer(1, "210\n");
  answer(2, "300\n");

  ASSERT_TRUE(wait_for_screen_text(tc, 4, 15, CREATED, JOB_MS));
  EXPECT_EQ(screen_text(tc, 23, 14, 81), std::string(80, '=') + "|");
  EXPECT_EQ(screen_text(tc, 106, 14, 7), "  100 %");
  // What the job will take, above the frame, each warning after its
  // figure; below the values, the file and the key that closes the screen,
  // the path cut in the middle where it is too long for the row.
  EXPECT_TRUE(wait_for_screen_text(tc, 4, 5, TIME_LINE, START_MS));
  EXPECT_EQ(screen_text(tc, 4, 6, sizeof PAUSES_LINE - 1), PAUSES_LINE);
  EXPECT_EQ(screen_text(tc, 4, 7, sizeof HEIGHT_LINE + 2 + sizeof WARNING_LINE - 1),
            std::string(HEIGHT_LINE) + "   " + WARNING_LINE);
  EXPECT_EQ(screen_text(tc, 4, 8, sizeof FOOTPRINT_LINE - 1), FOOTPRINT_LINE);
  const std::string file_line = "Full path:        " + dir.file("dagoma0.g") + " (130.7 MB)";
  const bool path_cut = file_line.size() > 76;
  std::string file_row = screen_text(tc, 4, 19, 79);
  if (path_cut) {
    EXPECT_EQ(file_row.substr(0, 21), file_line.substr(0, 21)) << file_row;
    EXPECT_NE(file_row.find("..."), std::string::npos) << file_row;
    EXPECT_EQ(file_row.substr(55), "\\dagoma0.g (130.7 MB)   ") << file_row;
  } else {
    EXPECT_EQ(file_row, file_line + std::string(79 - file_line.size(), ' '));
  }
  EXPECT_EQ(screen_text(tc, 83, 19, sizeof CLOSE_KEY - 1), CLOSE_KEY);
  EXPECT_EQ(screen_text(tc, 4, 20, static_cast<int>(COPY_CHECK_LINE.size())), COPY_CHECK_LINE);
  // The program waits for a key before it ends.
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  std::string job = read_file(dir.file("dagoma0.g")).value_or("");
  ASSERT_GT(job.size(), 2u);
  // The last line written stands on row 13, its line feed shown as a blank.
  size_t last = job.rfind('\n', job.size() - 2) + 1;
  std::string last_line = job.substr(last, job.size() - 1 - last);
  EXPECT_EQ(screen_text(tc, 22, 13, static_cast<int>(last_line.size()) + 1), last_line + " ");

  // Ctrl+C at the closing wait ends the run as a key does (the terminal
  // test presses one): the job is in place, so the status is 0, and what the
  // key would have printed below is printed.
  SetConsoleCtrlHandler(ignore_control_event, TRUE);
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  DWORD status = wait_for_exit(START_MS);
  SetConsoleCtrlHandler(ignore_control_event, FALSE);
  EXPECT_EQ(status, 0u);

  // The console is given back, cursor shown. The screen stays on the
  // console: of what it shows, only a text it had to cut is printed again
  // below it, from row 22 (scrolled up as far as the buffer ends before
  // the cursor that follows).
  GetConsoleCursorInfo(tc.out, &cursor);
  EXPECT_TRUE(cursor.bVisible);
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(tc.out, &info));
  int row = 22 - std::max(0, 22 + 2 - info.dwSize.Y);
  EXPECT_EQ(screen_text(tc, 0, row, static_cast<int>(file_line.size())),
            path_cut ? file_line : std::string(file_line.size(), ' '));
  EXPECT_EQ(screen_text(tc, 0, row + 1, 20), std::string(20, ' '));

  // The same job as the generator writes without any console.
  std::string command =
      std::string("\"") + GCODE_DUMP_EXE + "\" -12.5 210 300 \"" + dir.file("reference.g") + "\"";
  ASSERT_EQ(run_and_wait(command, dir.path, JOB_MS), 0u);
  std::string reference = read_file(dir.file("reference.g")).value_or("");
  EXPECT_EQ(job.compare(0, 15, "; Generated at "), 0);
  EXPECT_TRUE(without_first_line(job) == without_first_line(reference))
      << "dagoma0.g differs from the reference job";

  // Checked where it lies, read past the system's cache, it is the job.
  std::string check = std::string("\"") + VISOR_GCODE_EXE + "\" --check dagoma0.g";
  EXPECT_EQ(run_and_wait(check, dir.path, JOB_MS), 0u);
}

TEST_F(DialogueWin32, BackspaceAndAnInvalidValueStartTheDialogueOver) {
  TempDir dir;
  start(dir.path);

  answer(0, "12\n");
  answer(1, "2");
  ASSERT_TRUE(wait_for_screen_text(tc, 81, 17, "2", START_MS));
  press_key(tc, VK_BACK, '\b');
  // Cleared and asked again from the first value: the second prompt is
  // gone, the first field empty.
  ASSERT_TRUE(wait_for_screen_text(tc, 4, 17, std::string(20, ' '), START_MS));
  ASSERT_TRUE(wait_for_screen_text(tc, 4, 16, PROMPTS[0], START_MS));
  EXPECT_EQ(screen_text(tc, 67, 16, 10), std::string(10, ' '));

  answer(0, "0.4\n");
  answer(1, "210\n");
  answer(2, "700\n");
  ASSERT_TRUE(wait_for_screen_text(tc, 4, 14, ERROR_LINE, START_MS));
  // After the error line's wait, everything is asked again.
  ASSERT_TRUE(wait_for_screen_text(tc, 4, 18, std::string(20, ' '), START_MS));
  ASSERT_TRUE(wait_for_screen_text(tc, 4, 16, PROMPTS[0], START_MS));
  EXPECT_EQ(screen_text(tc, 4, 14, 19), "Progress:         |");
  // Nothing was written.
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
}

// Ctrl+C during the job: the console is given back, the message stands
// below the screen, the status is 128 + 2, the temporary file is removed
// from the handler's thread, and the previous job stays as it was.
TEST_F(DialogueWin32, CtrlCDuringTheJobGivesTheConsoleBack) {
  TempDir dir;
  const std::string previous = "; an earlier job\nG28\n";
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), previous));
  SetConsoleCtrlHandler(ignore_control_event, TRUE);
  start(dir.path);
  answer(0, "0.4\n");
  answer(1, "210\n");
  answer(2, "300\n");
  ASSERT_TRUE(wait_for_screen_text(tc, 23, 14, "==", JOB_MS));
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  DWORD status = wait_for_exit(START_MS);
  SetConsoleCtrlHandler(ignore_control_event, FALSE);
  EXPECT_EQ(status, 128u + 2u);

  CONSOLE_CURSOR_INFO cursor = {};
  GetConsoleCursorInfo(tc.out, &cursor);
  EXPECT_TRUE(cursor.bVisible);
  const char message[] = "Interrupted: dagoma0.g was not changed.";
  EXPECT_EQ(screen_text(tc, 0, 22, static_cast<int>(sizeof message - 1)), message);
  EXPECT_NE(screen_text(tc, 4, 15, 13), "Created file:");
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), previous);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
}

}  // namespace

int main(int argc, char** argv) {
  int status = run_in_console_without_window();
  if (status >= 0)
    return status;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
