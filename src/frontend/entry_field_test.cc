#include "frontend/entry_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/messages.h"
#include "frontend/screen.h"
#include "platform/test_console.h"

namespace {

const int ROW[] = {16, 17, 18};
const int FIRST_CELL[] = {67, 81, 62};
const FieldKind ALL_KINDS[] = {FIELD_Z_START, FIELD_HEAT_TEMP, FIELD_SPEED};

struct Field {
  Console con;
  MemoryConsole mem;
  char text[16];
  // A console with key releases (Windows) or without (a terminal).
  explicit Field(bool releases = true) {
    mem.releases = releases;
    open_memory_console(&con, &mem);
    draw_screen(&con);
    memset(text, 'z', sizeof text);  // whatever a failed call left
  }
  int read(FieldKind kind) { return read_number_field(&con, ROW[kind], text, kind); }
  std::string cells(FieldKind kind) { return console_text(&con, FIRST_CELL[kind], ROW[kind], 10); }
  bool script_used_up() const { return mem.next == mem.script.size(); }
};

std::string padded(const std::string& s) { return s + std::string(10 - s.size(), ' '); }

// Runs the keys without Enter: the field ends when the input does, and the
// text and the cells show what the keys stored.
struct Typed {
  int result;
  std::string text;
  std::string cells;
};

Typed press_keys(FieldKind kind, const std::vector<uint16_t>& keys) {
  Field f;
  for (uint16_t vk : keys)
    memory_press(&f.mem, vk);
  int result = f.read(kind);
  return {result, f.text, f.cells(kind)};
}

TEST(EntryFieldKeys, DigitRowAndKeypadStoreDigitsInEveryKind) {
  for (FieldKind kind : ALL_KINDS) {
    std::vector<uint16_t> row, keypad;
    for (int d = 0; d <= 8; ++d)
      row.push_back(static_cast<uint16_t>(VKEY_0 + d));
    Typed t = press_keys(kind, row);
    EXPECT_EQ(t.result, FIELD_INPUT_ENDED);
    EXPECT_EQ(t.text, "012345678") << kind;
    EXPECT_EQ(t.cells, padded("012345678")) << kind;

    keypad.push_back(VKEY_0 + 9);
    for (int d = 0; d <= 9; ++d)
      keypad.push_back(static_cast<uint16_t>(VKEY_NUMPAD0 + d));
    // Ten characters start the field over; the eleventh stands alone.
    t = press_keys(kind, keypad);
    EXPECT_EQ(t.text, "9") << kind;
    EXPECT_EQ(t.cells, padded("9")) << kind;
    t = press_keys(kind, {VKEY_NUMPAD0 + 9, VKEY_NUMPAD0 + 8, VKEY_NUMPAD0 + 0});
    EXPECT_EQ(t.text, "980") << kind;
  }
}

TEST(EntryFieldKeys, MinusAndDecimalKeys) {
  // The calibrating point stores them; a comma key also gives ".".
  Typed t = press_keys(FIELD_Z_START, {VKEY_SUBTRACT, VKEY_OEM_MINUS, VKEY_DECIMAL, VKEY_OEM_COMMA,
                                       VKEY_OEM_PERIOD});
  EXPECT_EQ(t.text, "--...");
  EXPECT_EQ(t.cells, padded("--..."));

  // The digits-only fields end at once on any of them, showing nothing.
  for (FieldKind kind : {FIELD_HEAT_TEMP, FIELD_SPEED}) {
    for (uint16_t vk :
         {VKEY_SUBTRACT, VKEY_OEM_MINUS, VKEY_DECIMAL, VKEY_OEM_COMMA, VKEY_OEM_PERIOD}) {
      Field f;
      memory_press(&f.mem, VKEY_0 + 2);
      memory_add(&f.mem, vk, true);
      memory_press(&f.mem, VKEY_0 + 5);
      EXPECT_EQ(f.read(kind), FIELD_REJECTED) << kind << " " << vk;
      EXPECT_EQ(f.cells(kind), padded("2"));
      EXPECT_EQ(f.mem.slept_ms, 0u);  // no error line
      EXPECT_EQ(console_row(&f.con, ERROR_ROW), "    Progress:         |");
      EXPECT_EQ(f.mem.next, 3u);  // nothing read after the key
    }
  }
}

TEST(EntryFieldKeys, AbortKeysEndTheFieldAtOnceInEveryKind) {
  for (FieldKind kind : ALL_KINDS) {
    for (uint16_t vk :
         {VKEY_CANCEL, VKEY_BACK, VKEY_CLEAR, VKEY_DELETE, VKEY_OEM_E9, VKEY_OEM_CLEAR}) {
      Field f;
      memory_press(&f.mem, VKEY_0 + 1);
      memory_press(&f.mem, VKEY_0 + 7);
      memory_add(&f.mem, vk, true);
      memory_press(&f.mem, VKEY_RETURN);
      EXPECT_EQ(f.read(kind), FIELD_REJECTED) << kind << " " << vk;
      // Backspace and Delete erase nothing: the dialogue is abandoned.
      EXPECT_EQ(f.cells(kind), padded("17"));
      EXPECT_EQ(std::string(f.text), "17");
      EXPECT_EQ(f.mem.slept_ms, 0u);
      EXPECT_EQ(f.mem.next, 5u);
    }
  }
}

TEST(EntryFieldKeys, OtherKeysAreIgnored) {
  for (FieldKind kind : ALL_KINDS) {
    Field f;
    memory_press(&f.mem, VKEY_0 + 1);
    const uint16_t ignored[] = {
        VKEY_A,   VKEY_A + 4,    VKEY_SPACE,  VKEY_ESCAPE,    VKEY_TAB,      VKEY_CONTROL,
        VKEY_ADD, VKEY_MULTIPLY, VKEY_DIVIDE, VKEY_SEPARATOR, VKEY_OEM_PLUS, VKEY_NONE,
        0x2F,     0x3A,          0x5F,        0xE8,           0xFF};
    for (uint16_t vk : ignored)
      memory_press(&f.mem, vk);
    memory_press(&f.mem, VKEY_0 + 8);
    EXPECT_EQ(f.read(kind), FIELD_INPUT_ENDED) << kind;
    EXPECT_EQ(std::string(f.text), "18") << kind;
    EXPECT_EQ(f.cells(kind), padded("18")) << kind;
  }
}

TEST(EntryFieldKeys, ShiftWithADigitStoresTheDigit) {
  Field f;
  memory_add(&f.mem, VKEY_SHIFT, true);
  memory_press(&f.mem, VKEY_0 + 2);
  memory_press(&f.mem, VKEY_0 + 5);
  memory_press(&f.mem, VKEY_0);
  memory_add(&f.mem, VKEY_SHIFT, false);
  memory_press(&f.mem, VKEY_RETURN);
  EXPECT_EQ(f.read(FIELD_HEAT_TEMP), FIELD_ACCEPTED);
  EXPECT_STREQ(f.text, "250");
}

TEST(EntryFieldKeys, ReleasesStoreNothing) {
  Field f;
  memory_add(&f.mem, VKEY_0 + 3, false);   // a release alone
  memory_add(&f.mem, VKEY_DELETE, false);  // not even an abort key's
  memory_add(&f.mem, VKEY_OEM_MINUS, false);
  memory_add(&f.mem, VKEY_0 + 4, true);
  memory_add(&f.mem, VKEY_0 + 4, false);
  memory_add(&f.mem, VKEY_NUMPAD0 + 2, true);
  EXPECT_EQ(f.read(FIELD_SPEED), FIELD_INPUT_ENDED);
  EXPECT_STREQ(f.text, "42");
  EXPECT_EQ(f.cells(FIELD_SPEED), padded("42"));
}

TEST(EntryFieldKeys, EnterValidatesOnPressOrReleaseAndTakesAwayItsRelease) {
  {
    Field f;
    memory_type(&f.mem, "300");
    memory_add(&f.mem, VKEY_RETURN, true);
    memory_add(&f.mem, VKEY_RETURN, false);
    memory_press(&f.mem, VKEY_0 + 9);
    EXPECT_EQ(f.read(FIELD_SPEED), FIELD_ACCEPTED);
    EXPECT_EQ(f.mem.next, f.mem.script.size() - 2);  // the release is gone, "9" is not
  }
  {
    Field f;
    memory_type(&f.mem, "300");
    memory_add(&f.mem, VKEY_RETURN, false);  // a release of Enter counts as well
    memory_press(&f.mem, VKEY_0 + 9);
    EXPECT_EQ(f.read(FIELD_SPEED), FIELD_ACCEPTED);
    EXPECT_STREQ(f.text, "300");
  }
  {
    // Enter as the very last event: the value still counts.
    Field f;
    memory_type(&f.mem, "300");
    memory_add(&f.mem, VKEY_RETURN, true);
    EXPECT_EQ(f.read(FIELD_SPEED), FIELD_ACCEPTED);
  }
  {
    // A terminal reports no releases: nothing is taken after Enter.
    Field f(false);
    memory_type(&f.mem, "300\n9");
    EXPECT_EQ(f.read(FIELD_SPEED), FIELD_ACCEPTED);
    EXPECT_EQ(f.mem.next, f.mem.script.size() - 1);
  }
}

struct Case {
  FieldKind kind;
  const char* typed;
  bool valid;
};

TEST(EntryFieldValidation, BoundsAndTextRules) {
  const Case cases[] = {
      {FIELD_Z_START, "-40", true},      {FIELD_Z_START, "200", true},
      {FIELD_Z_START, "-40.001", false}, {FIELD_Z_START, "200.5", false},
      {FIELD_Z_START, "-40.000", true},  {FIELD_Z_START, "200.000", true},
      {FIELD_Z_START, "-41", false},     {FIELD_Z_START, "201", false},
      {FIELD_Z_START, "0.4", true},      {FIELD_Z_START, "-12.5", true},
      {FIELD_Z_START, "", true},         {FIELD_Z_START, "-", true},
      {FIELD_Z_START, "1-2", true},      {FIELD_Z_START, "--1", false},
      {FIELD_Z_START, "-1-", false},     {FIELD_Z_START, "1.2.3", false},
      {FIELD_Z_START, "1..2", false},    {FIELD_Z_START, ".", true},
      {FIELD_Z_START, "-.5", true},      {FIELD_Z_START, "000000200", true},
      {FIELD_HEAT_TEMP, "170", true},    {FIELD_HEAT_TEMP, "270", true},
      {FIELD_HEAT_TEMP, "169", false},   {FIELD_HEAT_TEMP, "271", false},
      {FIELD_HEAT_TEMP, "", false},      {FIELD_HEAT_TEMP, "0210", true},
      {FIELD_SPEED, "80", true},         {FIELD_SPEED, "600", true},
      {FIELD_SPEED, "79", false},        {FIELD_SPEED, "601", false},
      {FIELD_SPEED, "0000300", true},    {FIELD_SPEED, "", false},
      {FIELD_SPEED, "999999999", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("kind ") + std::to_string(c.kind) + " text \"" + c.typed + "\"");
    Field f;
    memory_type(&f.mem, c.typed);
    memory_press(&f.mem, VKEY_RETURN);
    int result = f.read(c.kind);
    // The text stays exactly as typed, sign and zeros included, either way.
    EXPECT_STREQ(f.text, c.typed);
    // Given as a line, the same text is valid alike.
    EXPECT_EQ(value_text_is_valid(c.typed, c.kind), c.valid);
    if (c.valid) {
      EXPECT_EQ(result, FIELD_ACCEPTED);
      EXPECT_EQ(f.mem.slept_ms, 0u);
      EXPECT_TRUE(f.script_used_up());
      continue;
    }
    EXPECT_EQ(result, FIELD_REJECTED);
    // The error line stands for four seconds, then 30 blanks go over it.
    EXPECT_EQ(f.mem.slept_ms, ERROR_WAIT_MS);
    ASSERT_EQ(f.mem.screens_at_sleep.size(), 1u);
    const std::string& shown = f.mem.screens_at_sleep[0];
    size_t row14 = static_cast<size_t>(ERROR_ROW) * (CONSOLE_COLUMNS + 1);
    EXPECT_EQ(shown.substr(row14 + 4, strlen(FIELD_ERROR_TEXT)), FIELD_ERROR_TEXT);
    EXPECT_EQ(console_text(&f.con, 4, ERROR_ROW, 30), std::string(30, ' '));
  }
}

// A value given as a line is read by the key table but never changed
// silently: where the field would drop a key, abort or start over, the line
// is invalid. Validity is otherwise the field's own (the table above).
TEST(EntryFieldLine, NothingIsDroppedSilently) {
  const struct {
    FieldKind kind;
    std::string given;
    const char* value;  // what the field holds, or null: invalid
    std::string shown;  // the error line's end, when checked
  } cases[] = {
      {FIELD_Z_START, "0,4", "0.4", ""},              // the comma key stores a point
      {FIELD_Z_START, " \t-12.5  ", "-12.5", ""},     // blanks around are no part of it
      {FIELD_Z_START, "0.4000000", "0.4000000", ""},  // nine characters stand
      {FIELD_Z_START, "0.40000000001", nullptr, "calibrating point \"0.40000000001\""},
      {FIELD_Z_START, "1e2", nullptr, "calibrating point \"1e2\""},  // not 12
      {FIELD_Z_START, "abc", nullptr, "calibrating point \"abc\""},  // not 0
      {FIELD_Z_START, "2 0", nullptr, ""},
      {FIELD_Z_START, "+5", nullptr, ""},
      {FIELD_Z_START, "0.4\x08", nullptr, "calibrating point \"0.4\\x08\""},  // Backspace
      {FIELD_Z_START, std::string("5\0", 2), nullptr, "calibrating point \"5\\x00\""},
      {FIELD_Z_START, "\xc3\xa9\"\\", nullptr, "calibrating point \"\\xC3\\xA9\\\"\\\\\""},
      {FIELD_HEAT_TEMP, "210.5", nullptr, "heating temperature \"210.5\""},  // "." aborts
      {FIELD_HEAT_TEMP, "-210", nullptr, ""},
      {FIELD_SPEED, std::string(45, '9'), nullptr, "speed \"" + std::string(40, '9') + "\"..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.given));
    char value[FIELD_CELLS];
    memset(value, 'z', sizeof value);
    EXPECT_EQ(value_text_is_valid(c.given, c.kind, value), c.value != nullptr);
    if (c.value != nullptr) {
      EXPECT_STREQ(value, c.value);
    }
    if (!c.shown.empty()) {
      EXPECT_EQ(invalid_value_message(c.given, c.kind),
                std::string(FIELD_ERROR_TEXT) + ": " + c.shown);
    }
  }
}

TEST(EntryFieldWrap, TheTenthCharacterEmptiesTheField) {
  Field f;
  memory_type(&f.mem, "1234567890");
  EXPECT_EQ(f.read(FIELD_Z_START), FIELD_INPUT_ENDED);
  EXPECT_EQ(f.cells(FIELD_Z_START), std::string(10, ' '));
  EXPECT_EQ(std::string(f.text, 10), std::string(10, '\0'));

  // The next character lands in the first cell again; nine can stand.
  Field g;
  memory_type(&g.mem, "9999999999");
  memory_type(&g.mem, "5\n");
  EXPECT_EQ(g.read(FIELD_Z_START), FIELD_ACCEPTED);
  EXPECT_STREQ(g.text, "5");
  EXPECT_EQ(g.cells(FIELD_Z_START), padded("5"));
  EXPECT_EQ(console_text(&g.con, 77, 16, 3), "   ");  // nothing past the ten cells
}

TEST(EntryField, EachKindWritesInItsOwnCellsOnThePromptRow) {
  for (FieldKind kind : ALL_KINDS) {
    Field f;
    memory_type(&f.mem, "200\n");
    f.read(kind);
    EXPECT_EQ(console_text(&f.con, FIRST_CELL[kind] - 1, ROW[kind], 5), " 200 ") << kind;
    for (int other : ROW) {
      if (other != ROW[kind]) {
        EXPECT_EQ(console_row(&f.con, other), "") << kind;
      }
    }
  }
  // The row is the prompt's, the columns the kind's.
  Field f;
  memory_type(&f.mem, "7");
  read_number_field(&f.con, 19, f.text, FIELD_SPEED);
  EXPECT_EQ(memory_of(&f.con)->cells[19][62].ch, '7');
}

}  // namespace
