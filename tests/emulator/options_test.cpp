#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "module.h"
#include "options.h"

namespace {

struct Parsed {
  int result;
  Options options;
  std::string error;
};

Parsed parse(std::vector<const char *> arguments)
{
  arguments.insert(arguments.begin(), "lcm-emu");
  Parsed parsed{};
  parsed.result =
      emu_parse_options(static_cast<int>(arguments.size()), arguments.data(), &parsed.options, &parsed.error);
  return parsed;
}

TEST(EmulatorOptions, TakesOptionsThenTheCommandAfterTheSeparator)
{
  const Parsed parsed = parse({"--trace", "--wire", "out.bin", "--reply-delay=250", "--press", "up@200",
                               "--press=left@50+30", "--hangup-after", "0", "--late-reply", "3:1500",
                               "--stall-after=22", "--", "lcm-show", "--trace", "x"});
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  const Options &options = parsed.options;
  EXPECT_TRUE(options.trace);
  EXPECT_FALSE(options.silent);
  EXPECT_EQ(options.wire_path, "out.bin");
  EXPECT_EQ(options.reply_delay_ms, 250);
  EXPECT_EQ(options.hangup_after, 0);
  EXPECT_EQ(options.late_reply.query, 3);
  EXPECT_EQ(options.late_reply.ms, 1500);
  EXPECT_EQ(options.stall_after, 22);
  ASSERT_EQ(options.presses.size(), 2U);
  EXPECT_EQ(options.presses[0].buttons, BUTTON_UP);
  EXPECT_EQ(options.presses[0].start_ms, 200);
  EXPECT_EQ(options.presses[0].duration_ms, DEFAULT_PRESS_MS);
  EXPECT_EQ(options.presses[1].buttons, BUTTON_LEFT);
  EXPECT_EQ(options.presses[1].duration_ms, 30);
  EXPECT_EQ(options.command, (std::vector<std::string>{"lcm-show", "--trace", "x"}));
}

TEST(EmulatorOptions, CommandMayFollowWithoutSeparator)
{
  const Parsed parsed = parse({"--silent", "--garbage", "--pace", "--no-device", "prog", "-x"});
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  EXPECT_TRUE(parsed.options.silent && parsed.options.garbage && parsed.options.pace &&
              parsed.options.no_device);
  EXPECT_EQ(parsed.options.command, (std::vector<std::string>{"prog", "-x"}));
  EXPECT_EQ(parsed.options.hangup_after, -1);
}

TEST(EmulatorOptions, RefusesWhatItCannotUse)
{
  const std::vector<std::vector<const char *>> refused = {
      {},
      {"--trace"},
      {"--frobnicate", "--", "x"},
      {"--wire"},
      {"--trace=1", "--", "x"},
      {"--reply-delay", "-5", "--", "x"},
      {"--reply-delay", "5ms", "--", "x"},
      {"--hangup-after", "", "--", "x"},
      {"--press", "middle@10", "--", "x"},
      {"--press", "up", "--", "x"},
      {"--press", "up@", "--", "x"},
      {"--press", "up@10+", "--", "x"},
      {"--press", "up@10+-3", "--", "x"},
      {"--press", "up@99999999999999999999", "--", "x"},
      {"--late-reply", "0:100", "--", "x"},
      {"--late-reply", "2", "--", "x"},
      {"--late-reply", "2:", "--", "x"},
      {"--stall-after", "x", "--", "x"},
      {"--silent-between", "500", "--", "x"},
      {"--silent-between", "500-500", "--", "x"},
      {"--silent-between", "900-500", "--", "x"},
      {"--silent-between", "-500", "--", "x"},
      {"--silent-between", "5-x", "--", "x"},
  };
  for (const auto &arguments : refused) {
    const Parsed parsed = parse(arguments);
    EXPECT_EQ(parsed.result, -1) << (arguments.empty() ? "(none)" : arguments[0]);
    EXPECT_FALSE(parsed.error.empty());
  }
  EXPECT_EQ(parse({"--help"}).result, 0);
  const Parsed version = parse({"--version"});
  EXPECT_EQ(version.result, 0);
  EXPECT_TRUE(version.options.version);
}

// With --line no command is run: the options that only serve a command are
// refused, the faults of the line are taken.
TEST(EmulatorOptions, LineTakesTheLineFaultsAndNoCommand)
{
  const Parsed parsed =
      parse({"--line", "/dev/ttyUSB1", "--stall-after", "37", "--press", "up@10", "--live"});
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  EXPECT_EQ(parsed.options.line_path, "/dev/ttyUSB1");
  EXPECT_EQ(parsed.options.stall_after, 37);
  EXPECT_TRUE(parsed.options.command.empty());
  const std::vector<std::pair<std::vector<const char *>, const char *>> refused = {
      {{"--line", "p", "--", "lcm-show", "a", "b"}, "--line runs no command"},
      {{"--line=p", "lcm-show"}, "--line runs no command"},
      {{"--hangup-after", "3", "--line", "p"}, "--hangup-after closes the command's pseudo-terminal"},
      {{"--line", "p", "--no-device"}, "--no-device runs the command without /dev/ttyS1"},
      {{"--line="}, "--line wants a file name"},
  };
  for (const auto &[arguments, error] : refused) {
    const Parsed refusal = parse(arguments);
    EXPECT_EQ(refusal.result, -1) << error;
    EXPECT_EQ(refusal.error.rfind(error, 0), 0U) << refusal.error;
  }
}

TEST(EmulatorOptions, SilentBetweenHoldsRepliesBackFromItsStartToItsEnd)
{
  const Parsed parsed = parse({"--silent-between", "500-2500", "--", "x"});
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  EXPECT_FALSE(emu_silenced(parsed.options, 499999));
  EXPECT_TRUE(emu_silenced(parsed.options, 500000));
  EXPECT_TRUE(emu_silenced(parsed.options, 2499999));
  EXPECT_FALSE(emu_silenced(parsed.options, 2500000));
  EXPECT_FALSE(emu_silenced(parse({"x"}).options, 1000000)) << "never without the option";
}

// "lcm-emu --wire -- true" would otherwise write a file named "--".
TEST(EmulatorOptions, SeparatorIsNeverAValue)
{
  for (const std::vector<const char *> &arguments : {std::vector<const char *>{"--wire", "--", "true"},
                                                     {"--wire=--", "true"},
                                                     {"--reply-delay", "--", "5"}}) {
    const Parsed parsed = parse(arguments);
    EXPECT_EQ(parsed.result, -1) << arguments[0];
    EXPECT_NE(parsed.error.find("wants a value"), std::string::npos) << parsed.error;
  }
}

TEST(EmulatorPresses, HoldFromTheirStartForTheirDurationOnceReadTwice)
{
  Press up;
  ASSERT_EQ(emu_parse_press("up@200", &up), 0);
  Press down;
  ASSERT_EQ(emu_parse_press("down@250+500", &down), 0);
  const std::vector<Press> presses = {up, down};
  const std::vector<int> read_twice = {2, 2};
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 0), 0U);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 199999), 0U);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 200000), BUTTON_UP);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 260000), BUTTON_UP | BUTTON_DOWN);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 299999), BUTTON_UP | BUTTON_DOWN);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 300000), BUTTON_DOWN);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 749999), BUTTON_DOWN);
  EXPECT_EQ(emu_buttons_held(presses, read_twice, 750000), 0U);
  Press right;
  ASSERT_EQ(emu_parse_press("right@0+0", &right), 0);
  EXPECT_EQ(emu_buttons_held({right}, {2}, 0), 0U);
}

// A command busy through a press's whole length still finds it down, twice.
TEST(EmulatorPresses, StayDownPastTheirLengthUntilReadTwice)
{
  Press up;
  ASSERT_EQ(emu_parse_press("up@200+100", &up), 0);
  constexpr long long LONG_AFTER = 10000000;
  EXPECT_FALSE(emu_press_held(up, 199999, 0));
  EXPECT_TRUE(emu_press_held(up, LONG_AFTER, 0));
  EXPECT_TRUE(emu_press_held(up, LONG_AFTER, 1));
  EXPECT_FALSE(emu_press_held(up, LONG_AFTER, 2));
  // Read twice within its length, it still lasts for the whole length.
  EXPECT_TRUE(emu_press_held(up, 299999, 2));
  // Missing counts are none yet.
  EXPECT_EQ(emu_buttons_held({up}, {}, LONG_AFTER), BUTTON_UP);
}

} // namespace
