#include "options.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "module.h"

namespace {

// Ten days in milliseconds: far beyond any run, and safe to turn into microseconds.
constexpr long LONGEST_MS = 864000000L;

int parse_count(const std::string &text, long limit, long *value)
{
  if (text.empty() || text[0] < '0' || text[0] > '9')
    return -1;
  errno = 0;
  char *end = nullptr;
  const long parsed = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > limit)
    return -1;
  *value = parsed;
  return 0;
}

int button_named(const std::string &name, unsigned *button)
{
  constexpr std::array<std::pair<const char *, unsigned>, 4> buttons = {{
      {"up", BUTTON_UP},
      {"down", BUTTON_DOWN},
      {"left", BUTTON_LEFT},
      {"right", BUTTON_RIGHT},
  }};
  for (const auto &[known, bit] : buttons) {
    if (name == known) {
      *button = bit;
      return 0;
    }
  }
  return -1;
}

bool takes_value(const std::string &name)
{
  return name == "--press" || name == "--reply-delay" || name == "--hangup-after" || name == "--wire" ||
         name == "--silent-between" || name == "--stall-after" || name == "--late-reply" || name == "--line";
}

int apply_value(const std::string &name, const std::string &value, Options *options, std::string *error)
{
  if (name == "--press") {
    Press press;
    if (emu_parse_press(value, &press) < 0) {
      *error = "--press wants KEY@MS or KEY@MS+MS with KEY up, down, left or right: " + value;
      return -1;
    }
    options->presses.push_back(press);
    return 0;
  }
  if (name == "--reply-delay") {
    if (parse_count(value, LONGEST_MS, &options->reply_delay_ms) < 0) {
      *error = "--reply-delay wants a number of milliseconds: " + value;
      return -1;
    }
    return 0;
  }
  if (name == "--silent-between") {
    const size_t dash = value.find('-');
    if (dash == std::string::npos ||
        parse_count(value.substr(0, dash), LONGEST_MS, &options->silent_from_ms) < 0 ||
        parse_count(value.substr(dash + 1), LONGEST_MS, &options->silent_until_ms) < 0 ||
        options->silent_until_ms <= options->silent_from_ms) {
      *error = "--silent-between wants MS-MS, the first below the second: " + value;
      return -1;
    }
    return 0;
  }
  if (name == "--hangup-after") {
    if (parse_count(value, LONG_MAX, &options->hangup_after) < 0) {
      *error = "--hangup-after wants a number of bytes: " + value;
      return -1;
    }
    return 0;
  }
  if (name == "--stall-after") {
    if (parse_count(value, LONG_MAX, &options->stall_after) < 0) {
      *error = "--stall-after wants a number of bytes: " + value;
      return -1;
    }
    return 0;
  }
  if (name == "--late-reply") {
    if (emu_parse_late_reply(value, &options->late_reply) < 0) {
      *error = "--late-reply wants N:MS, the Nth query (from 1) and the milliseconds it is late: " + value;
      return -1;
    }
    return 0;
  }
  if (value.empty()) {
    *error = name + " wants a file name";
    return -1;
  }
  (name == "--line" ? options->line_path : options->wire_path) = value;
  return 0;
}

int apply_flag(const std::string &name, Options *options, std::string *error)
{
  const std::array<std::pair<const char *, bool *>, 9> flags = {{
      {"--help", &options->help},
      {"--version", &options->version},
      {"--trace", &options->trace},
      {"--silent", &options->silent},
      {"--garbage", &options->garbage},
      {"--pace", &options->pace},
      {"--live", &options->live},
      {"--no-device", &options->no_device},
      {"-h", &options->help},
  }};
  for (const auto &[known, flag] : flags) {
    if (name == known) {
      *flag = true;
      return 0;
    }
  }
  *error = "unknown option " + name;
  return -1;
}

// Options that only make sense with a command.
std::string line_conflict(const Options &options)
{
  if (!options.command.empty())
    return "--line runs no command: give either --line PATH or -- command";
  if (options.hangup_after >= 0)
    return "--hangup-after closes the command's pseudo-terminal; with --line there is none";
  if (options.no_device)
    return "--no-device runs the command without /dev/ttyS1; with --line no command is run";
  return "";
}

} // namespace

int emu_parse_press(const std::string &text, Press *press)
{
  const size_t at = text.find('@');
  if (at == std::string::npos)
    return -1;
  const size_t plus = text.find('+', at);
  Press parsed;
  if (button_named(text.substr(0, at), &parsed.buttons) < 0)
    return -1;
  const std::string start =
      text.substr(at + 1, plus == std::string::npos ? std::string::npos : plus - at - 1);
  if (parse_count(start, LONGEST_MS, &parsed.start_ms) < 0)
    return -1;
  if (plus != std::string::npos && parse_count(text.substr(plus + 1), LONGEST_MS, &parsed.duration_ms) < 0)
    return -1;
  *press = parsed;
  return 0;
}

int emu_parse_late_reply(const std::string &text, LateReply *late)
{
  const size_t colon = text.find(':');
  if (colon == std::string::npos)
    return -1;
  LateReply parsed;
  if (parse_count(text.substr(0, colon), LONG_MAX, &parsed.query) < 0 || parsed.query < 1 ||
      parse_count(text.substr(colon + 1), LONGEST_MS, &parsed.ms) < 0)
    return -1;
  *late = parsed;
  return 0;
}

bool emu_press_held(const Press &press, long long elapsed_us, int answered)
{
  constexpr long long US_PER_MS = 1000;
  const long long start = press.start_ms * US_PER_MS;
  const long long end = start + press.duration_ms * US_PER_MS;
  return elapsed_us >= start && (elapsed_us < end || answered < PRESS_READS);
}

unsigned emu_buttons_held(const std::vector<Press> &presses, const std::vector<int> &answered,
                          long long elapsed_us)
{
  unsigned held = 0;
  for (size_t i = 0; i < presses.size(); i++)
    if (emu_press_held(presses[i], elapsed_us, i < answered.size() ? answered[i] : 0))
      held |= presses[i].buttons;
  return held;
}

bool emu_silenced(const Options &options, long long elapsed_us)
{
  constexpr long long US_PER_MS = 1000;
  return options.silent_from_ms >= 0 && elapsed_us >= options.silent_from_ms * US_PER_MS &&
         elapsed_us < options.silent_until_ms * US_PER_MS;
}

int emu_parse_options(int argc, const char *const *argv, Options *options, std::string *error)
{
  Options parsed;
  int index = 1;
  while (index < argc) {
    const std::string argument = argv[index];
    if (argument == "--") {
      index++;
      break;
    }
    if (argument.empty() || argument[0] != '-')
      break;
    index++;
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (!takes_value(name)) {
      if (equals != std::string::npos) {
        *error = name + " takes no value";
        return -1;
      }
      if (apply_flag(name, &parsed, error) < 0)
        return -1;
      continue;
    }
    std::string value;
    bool has_value = false;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
      has_value = true;
    } else if (index < argc && std::string(argv[index]) != "--") {
      value = argv[index++];
      has_value = true;
    }
    // The separator ends the options; it is never a value.
    if (!has_value || value == "--") {
      *error = name + " wants a value";
      return -1;
    }
    if (apply_value(name, value, &parsed, error) < 0)
      return -1;
  }
  for (; index < argc; index++)
    parsed.command.emplace_back(argv[index]);
  if (!parsed.line_path.empty()) {
    *error = line_conflict(parsed);
    if (!error->empty())
      return -1;
  } else if (parsed.command.empty() && !parsed.help && !parsed.version) {
    *error = "no command given";
    return -1;
  }
  *options = std::move(parsed);
  return 0;
}
