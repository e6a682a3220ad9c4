#include "frontend/screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/test_console.h"

namespace {

struct Screen {
  Console con;
  MemoryConsole mem;
  Screen() { open_memory_console(&con, &mem); }
};

TEST(Screen, DialogueScreenTextsAndFrame) {
  Screen s;
  Console* con = &s.con;
  draw_screen(con);
  const MemoryConsole* mem = &s.mem;
  EXPECT_EQ(console_text(con, 35, 4, 38), "Lumenforge - 3d vantor dagoma printing");
  EXPECT_EQ(mem->cells[4][35].style, STYLE_BANNER);
  EXPECT_EQ(mem->cells[4][72].style, STYLE_BANNER);
  EXPECT_EQ(console_row(con, 11),
            "    3d object:        visor with holes for plexiglas or glasses");
  EXPECT_EQ(mem->cells[11][4].style, STYLE_TEXT);
  EXPECT_EQ(console_text(con, 4, 12, 36), "Version:          1.2.0 - 11/11/2024");
  EXPECT_EQ(console_text(con, 4, 13, 18), "Writing gcode:    ");
  EXPECT_EQ(console_text(con, 4, 14, 19), "Progress:         |");
  EXPECT_EQ(mem->cells[14][22].ch, '|');  // the bar's left end
  // Nothing else above the frame.
  for (int row : {0, 1, 2, 3, 5, 6, 7, 8})
    EXPECT_EQ(console_row(con, row), "") << "row " << row;
  // The frame: rows 9 to 21, columns 1 to 118.
  for (int row = 8; row <= 22; ++row) {
    for (int col = 0; col <= 119; ++col) {
      bool edge = (row == 9 || row == 21 || col == 1 || col == 118) && row >= 9 && row <= 21 &&
                  col >= 1 && col <= 118;
      EXPECT_EQ(mem->cells[row][col].frame, edge) << col << ", " << row;
    }
  }
}

// The progress row after each mark: column of the mark and the percentage
// text, for as many lines as asked.
struct Marks {
  std::vector<uint64_t> lines;        // the line of each mark
  std::vector<std::string> percents;  // the percentage shown with it
};

Marks run_progress(Console* con, ProgressBar* bar, uint64_t lines) {
  Marks m;
  for (uint64_t count = 1; count <= lines; ++count) {
    int before = bar->next_col;
    progress_step(con, bar, count);
    if (bar->next_col != before) {
      EXPECT_EQ(bar->next_col, before + 1);
      EXPECT_EQ(memory_of(con)->cells[PROGRESS_ROW][before].ch, '=');
      m.lines.push_back(count);
      std::string text = console_text(con, PERCENT_COLUMN, PROGRESS_ROW, 8);
      text.erase(text.find_last_not_of(' ') + 1);
      m.percents.push_back(text);
    }
  }
  return m;
}

TEST(Progress, FirstMarksAndPercentages) {
  Screen s;
  ProgressBar bar;
  progress_init(&bar);
  EXPECT_EQ(bar.left_col, 22);
  EXPECT_EQ(bar.next_col, 23);
  EXPECT_EQ(bar.right_col, 122);
  EXPECT_EQ(bar.percent, 0.0);

  Marks m = run_progress(&s.con, &bar, 37583 * 10);
  ASSERT_GE(m.lines.size(), 8u);
  EXPECT_EQ(m.lines[0], 1u);  // line 1 draws the first mark at column 23
  EXPECT_EQ(s.mem.cells[PROGRESS_ROW][23].ch, '=');
  EXPECT_EQ(m.lines[1], 47355u);  // lines 2 to 47,354 draw nothing
  std::vector<std::string> first(m.percents.begin(), m.percents.begin() + 8);
  std::vector<std::string> expect = {"  1 %", "  2 %", "  3 %", "  5 %",
                                     "  6 %", "  7 %", "  8 %", "  10 %"};
  EXPECT_EQ(first, expect);
  // The k-th mark comes with the first line past 37,583 x 1.26 x (k - 1).
  for (size_t k = 1; k < m.lines.size(); ++k) {
    double threshold = 37583.0 * (1.26 * static_cast<double>(k));
    EXPECT_GT(static_cast<double>(m.lines[k]), threshold - 1.0) << k;
    EXPECT_LE(static_cast<double>(m.lines[k]), threshold + 1.0) << k;
  }
}

TEST(Progress, CompleteJobEndsWithEightyMarksAndTheClosingBar) {
  for (uint64_t lines : {uint64_t{3741012}, uint64_t{3758388}, uint64_t{3788366}}) {
    Screen s;
    draw_screen(&s.con);
    ProgressBar bar;
    progress_init(&bar);
    Marks m = run_progress(&s.con, &bar, lines);
    ASSERT_EQ(m.lines.size(), 80u) << lines;
    EXPECT_EQ(m.lines[79], 3741012u);
    EXPECT_EQ(m.percents[79], "  100 %");
    progress_close(&s.con, &bar);
    EXPECT_EQ(console_text(&s.con, 22, PROGRESS_ROW, 82), "|" + std::string(80, '=') + "|");
    EXPECT_EQ(s.mem.cells[PROGRESS_ROW][103].ch, '|');
    EXPECT_EQ(console_row(&s.con, PROGRESS_ROW),
              "    Progress:         |" + std::string(80, '=') + "|  " + "  100 %");
  }
}

TEST(Progress, ShorterAndLongerJobs) {
  Screen s;
  ProgressBar bar;
  progress_init(&bar);
  Marks m = run_progress(&s.con, &bar, 3741011);
  EXPECT_EQ(m.lines.size(), 79u);  // one line short of the 80th mark
  progress_close(&s.con, &bar);
  EXPECT_EQ(s.mem.cells[PROGRESS_ROW][102].ch, '|');  // right after the last mark

  Screen longer;
  progress_init(&bar);
  m = run_progress(&longer.con, &bar, 3835722);
  ASSERT_EQ(m.lines.size(), 82u);
  EXPECT_EQ(m.lines[80], 3788367u);      // the 81st mark
  EXPECT_EQ(m.percents[80], "  102 %");  // never capped at 100
  EXPECT_EQ(m.percents.back(), "  103 %");
  progress_close(&longer.con, &bar);
  EXPECT_EQ(longer.mem.cells[PROGRESS_ROW][23 + m.lines.size()].ch, '|');
}

TEST(Echo, ShowsSixtyThreeCellsAndBlanksWhatALongerLineLeft) {
  Screen s;
  Console* con = &s.con;
  char buffer[256];

  // The receive buffer keeps what a longer line left behind the new one.
  auto receive = [&](const std::string& line) {
    memcpy(buffer, line.data(), line.size());
    echo_line(con, buffer, line.size());
  };

  console_write(con, 85, ECHO_ROW, "#", 1);  // just past the echo cells
  std::string longest = std::string(62, 'L') + "\n";
  receive(longest);
  EXPECT_EQ(console_text(con, 22, ECHO_ROW, 63), std::string(62, 'L') + " ");
  EXPECT_EQ(s.mem.cells[ECHO_ROW][85].ch, '#');

  receive("G28\n");
  EXPECT_EQ(console_text(con, 22, ECHO_ROW, 63), "G28" + std::string(60, ' '));
  EXPECT_EQ(s.mem.cells[ECHO_ROW][85].ch, '#');

  // A line longer than the cells shows its beginning.
  receive(std::string(100, 'M') + "\n");
  EXPECT_EQ(console_text(con, 22, ECHO_ROW, 63), std::string(63, 'M'));
  EXPECT_EQ(s.mem.cells[ECHO_ROW][85].ch, '#');
}

}  // namespace

// Above the frame a row has the window's whole width; below the values
// the file's row keeps the frame and the key's text whole.
TEST(Summary, EveryTextStaysWithinTheWindowAndTheFrame) {
  Screen s;
  Console* con = &s.con;
  draw_screen(con);
  SummaryText text = {};
  snprintf(text.time_line, sizeof text.time_line, "%s", "Print time:       21 h 53 min");
  snprintf(text.height_line, sizeof text.height_line, "%s", std::string(100, 'h').c_str());
  text.warning = ABOVE_BUILD_HEIGHT_TEXT;
  draw_summary(con, text);
  EXPECT_EQ(console_row(con, 5), "    Print time:       21 h 53 min");
  EXPECT_EQ(console_row(con, 7),
            "    " + std::string(100, 'h') + "   " + std::string(ABOVE_BUILD_HEIGHT_TEXT, 12));
  EXPECT_EQ(s.mem.cells[7][SCREEN_COLUMNS].ch, ' ');

  std::string path = "/media/operator/" + std::string(80, 'x') + "/prints/dagoma0.g";
  EXPECT_FALSE(draw_file(con, path.c_str(), 130665137));
  std::string row = console_row(con, 19);
  // A third of the room from the beginning, the rest from the end.
  EXPECT_EQ(row,
            "    Full path:        /media/operato...xxxxxxxxxxxxx/prints/dagoma0.g (130.7 MB)   " +
                std::string(CLOSE_KEY_TEXT));
  EXPECT_TRUE(s.mem.cells[19][118].frame);
  // Short enough, whole.
  EXPECT_TRUE(draw_file(con, "/tmp/dagoma0.g", 49999));
  EXPECT_EQ(console_text(con, 4, 19, 41), "Full path:        /tmp/dagoma0.g (0.0 MB)");
}
