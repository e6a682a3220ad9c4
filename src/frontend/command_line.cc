#include "frontend/command_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frontend/entry_field.h"
#include "frontend/messages.h"

namespace {

struct ValueOption {
  const char* name;
  FieldKind kind;
};

// In the order of the dialogue, which is the order of FieldKind.
const ValueOption VALUE_OPTIONS[] = {
    {"--z-start", FIELD_Z_START},
    {"--heat-temp", FIELD_HEAT_TEMP},
    {"--speed", FIELD_SPEED},
};

char* buffer_for(TypedValues* typed, FieldKind kind) {
  switch (kind) {
    case FIELD_Z_START: return typed->z_start;
    case FIELD_HEAT_TEMP: return typed->heat_temp;
    case FIELD_SPEED: return typed->speed;
  }
  return nullptr;
}

// Characters of an argument shown in a message; an argument is whatever
// the caller passed, so a long one is cut.
constexpr size_t SHOWN_CHARACTERS = 40;

// The argument in double quotes, safe to print on a terminal: quote and
// backslash escaped, bytes outside printable ASCII as \xNN.
std::string quoted(const char* arg) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string s = "\"";
  size_t i = 0;
  for (; arg[i] != '\0' && i < SHOWN_CHARACTERS; ++i) {
    unsigned char c = static_cast<unsigned char>(arg[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      s += "\\x";
      s += HEX[c >> 4];
      s += HEX[c & 0xF];
    } else {
      s += static_cast<char>(c);
    }
  }
  s += '"';
  if (arg[i] != '\0')
    s += "...";
  return s;
}

CommandLine error(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  CommandLine result;
  result.action = COMMAND_LINE_ERROR;
  result.error = message;
  return result;
}

// "--name" or "--name=value": the option's table entry, and *value the
// text after "=" (null without one).
const ValueOption* find_value_option(const char* arg, const char** value) {
  for (const ValueOption& option : VALUE_OPTIONS) {
    size_t n = strlen(option.name);
    if (strncmp(arg, option.name, n) != 0)
      continue;
    if (arg[n] == '\0') {
      *value = nullptr;
      return &option;
    }
    if (arg[n] == '=') {
      *value = arg + n + 1;
      return &option;
    }
  }
  return nullptr;
}

bool is_option(const char* arg, const char* name) {
  size_t n = strlen(name);
  return strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine result;
  bool given[3] = {};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is_option(arg, "--help") || is_option(arg, "--version")) {
      if (strchr(arg, '=') != nullptr)
        return error(TAKES_NO_VALUE_TEXT, std::string(arg, strcspn(arg, "=")).c_str());
      result.action = is_option(arg, "--help") ? PRINT_HELP : PRINT_VERSION;
      return result;
    }
    const char* value = nullptr;
    const ValueOption* option = find_value_option(arg, &value);
    if (option == nullptr) {
      return error(arg[0] == '-' ? UNKNOWN_OPTION_TEXT : UNEXPECTED_ARGUMENT_TEXT,
                   quoted(arg).c_str());
    }
    if (value == nullptr) {
      // The next argument, whatever it begins with ("--z-start -5"),
      // unless it is an option: no valid value begins with "--".
      if (i + 1 == argc || strncmp(argv[i + 1], "--", 2) == 0)
        return error(MISSING_VALUE_TEXT, option->name);
      value = argv[++i];
    }
    if (given[option->kind])
      return error(GIVEN_TWICE_TEXT, option->name);
    given[option->kind] = true;
    if (!value_text_is_valid(value, option->kind, buffer_for(&result.typed, option->kind))) {
      return error(INVALID_VALUE_TEXT, quoted(value).c_str(), option->name,
                   VALUE_RULE_TEXTS[option->kind]);
    }
  }
  if (argc <= 1)
    return result;
  for (const ValueOption& option : VALUE_OPTIONS) {
    if (!given[option.kind])
      return error(VALUE_MISSING_TEXT, option.name);
  }
  result.action = RUN_WITH_VALUES;
  return result;
}
