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
  bool check = false;
  const char* also = nullptr;  // --pieces or --resume, which need the values
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0) {
      result.action = PRINT_HELP;
      return result;
    }
    if (is_option(arg, "--help") || is_option(arg, "--version")) {
      if (strchr(arg, '=') != nullptr)
        return error(TAKES_NO_VALUE_TEXT, std::string(arg, strcspn(arg, "=")).c_str());
      result.action = is_option(arg, "--help") ? PRINT_HELP : PRINT_VERSION;
      return result;
    }
    if (is_option(arg, CHECK_OPTION)) {
      if (check)
        return error(GIVEN_TWICE_TEXT, CHECK_OPTION);
      check = true;
      // The file is optional: the next argument is it unless it is an
      // option, as a value is.
      const char* file = strchr(arg, '=');
      if (file != nullptr && *++file == '\0')
        return error(MISSING_VALUE_TEXT, CHECK_OPTION);
      if (file == nullptr && i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0)
        file = argv[++i];
      result.check_path = file != nullptr ? file : OUTPUT_FILE_NAME;
      continue;
    }
    if (is_option(arg, PIECES_OPTION) || is_option(arg, RESUME_OPTION)) {
      const char* name = is_option(arg, PIECES_OPTION) ? PIECES_OPTION : RESUME_OPTION;
      const char* point = strchr(arg, '=');
      if (also != nullptr)
        return error(also == name ? GIVEN_TWICE_TEXT : NOT_TOGETHER_TEXT, name, also);
      also = name;
      if (name == PIECES_OPTION && point != nullptr)
        return error(TAKES_NO_VALUE_TEXT, name);
      if (name == PIECES_OPTION)
        continue;
      // The point as a value's: after "=", or the next argument.
      bool next = point == nullptr && i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0;
      point = point != nullptr ? point + 1 : next ? argv[++i] : "";
      if (*point == '\0')
        return error(MISSING_VALUE_TEXT, name);
      if (!parse_resume_point(point, &result.resume.piece, &result.resume.z))
        return error(INVALID_VALUE_TEXT, quoted_text(point).c_str(), name, RESUME_RULE_TEXT);
      continue;
    }
    const char* value = nullptr;
    const ValueOption* option = find_value_option(arg, &value);
    if (option == nullptr) {
      return error(arg[0] == '-' ? UNKNOWN_OPTION_TEXT : UNEXPECTED_ARGUMENT_TEXT,
                   quoted_text(arg).c_str());
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
    if (!value_text_is_valid(value, option->kind, typed_text(&result.typed, option->kind))) {
      return error(INVALID_VALUE_TEXT, quoted_text(value).c_str(), option->name,
                   VALUE_RULE_TEXTS[option->kind]);
    }
  }
  if (argc <= 1)
    return result;
  if (check) {
    for (const ValueOption& option : VALUE_OPTIONS) {
      if (given[option.kind])
        return error(CHECK_WITH_VALUE_TEXT, option.name);
    }
    if (also != nullptr)
      return error(CHECK_WITH_VALUE_TEXT, also);
    result.action = CHECK_FILE;
    return result;
  }
  for (const ValueOption& option : VALUE_OPTIONS) {
    if (!given[option.kind] && also != nullptr)
      return error(NEEDS_VALUES_TEXT, also, option.name);
    if (!given[option.kind])
      return error(VALUE_MISSING_TEXT, option.name);
  }
  result.action = also == nullptr         ? RUN_WITH_VALUES
                  : also == PIECES_OPTION ? PRINT_PIECES
                                          : RESUME_JOB;
  return result;
}
