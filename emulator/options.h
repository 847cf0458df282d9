// The emulator's command line, parsed without side effects.
//
//   emu_parse_options(argc, argv, &options, &error)  0, or -1 with error holding why
//   emu_parse_press("up@200+50", &press)            0, or -1 for a malformed press
//   emu_parse_late_reply("3:1500", &late)           0, or -1 for a malformed late reply
//   emu_press_held(press, elapsed_us, answered)     whether a press is down at that moment
//   emu_buttons_held(presses, answered, elapsed_us) the buttons held at that moment
//   emu_silenced(options, elapsed_us)               whether --silent-between holds replies back then
#ifndef LCM_EMULATOR_OPTIONS_H
#define LCM_EMULATOR_OPTIONS_H

#include <string>
#include <vector>

constexpr long DEFAULT_PRESS_MS = 100;
// A press stays down past its length until the command has read it this
// many times: a program busy for the whole length would otherwise never see
// it, and one that wants two successive replies to agree sees it twice.
constexpr int PRESS_READS = 2;

struct Press {
  unsigned buttons = 0;
  long start_ms = 0;
  long duration_ms = DEFAULT_PRESS_MS;
};

// The query'th query of the run (position and button queries, counted from
// 1) is answered ms milliseconds late.
struct LateReply {
  long query = 0; // 0: none
  long ms = 0;
};

struct Options {
  bool help = false;
  bool version = false;
  bool trace = false;
  bool silent = false;
  bool garbage = false;
  bool pace = false;
  bool live = false;
  bool no_device = false;
  long reply_delay_ms = 0;
  long silent_from_ms = -1; // --silent-between: -1, never
  long silent_until_ms = -1;
  long hangup_after = -1; // -1: never
  long stall_after = -1;  // -1: never
  LateReply late_reply;
  std::string wire_path;
  std::string line_path; // --line: serve this line instead of running a command
  std::vector<Press> presses;
  std::vector<std::string> command;
};

[[nodiscard]] int emu_parse_options(int argc, const char *const *argv, Options *options, std::string *error);
[[nodiscard]] int emu_parse_press(const std::string &text, Press *press);
[[nodiscard]] int emu_parse_late_reply(const std::string &text, LateReply *late);
// answered[i]: the button queries answered while presses[i] was down; a
// shorter vector counts the missing ones as 0.
[[nodiscard]] bool emu_press_held(const Press &press, long long elapsed_us, int answered);
[[nodiscard]] unsigned emu_buttons_held(const std::vector<Press> &presses, const std::vector<int> &answered,
                                        long long elapsed_us);
[[nodiscard]] bool emu_silenced(const Options &options, long long elapsed_us);

#endif
