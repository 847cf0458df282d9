// lcm-panel under lcm-emu --live, for the tests that press its buttons as a
// user would: arrow keys typed to the emulator, the glass as it redraws it.
//
//   press(&panel, button)               type the arrow, again if the panel missed it; done once it has seen
//   it held and let go glass_shows(panel, row0, row1)      whether the last drawing is this screen
//   last_drawings(panel)                the last few drawings, for a failure's message
//   Reaper reaper{{&a, &b}};            kills what is still running when the test ends
#ifndef LCM_TESTS_PANEL_LIVE_PANEL_H
#define LCM_TESTS_PANEL_LIVE_PANEL_H

#include <cstring>

#include "panel_session.h"

// An arrow key typed to lcm-emu --live, and the emulator's trace of the
// button reply while it is held.
struct Button {
  std::string arrow;
  std::string held;
};
inline const Button UP = {"\033[A", "button query -> 0E (up)"};
inline const Button DOWN = {"\033[B", "button query -> 07 (down)"};
inline const Button RIGHT = {"\033[C", "button query -> 0D (right)"};
inline const Button LEFT = {"\033[D", "button query -> 0B (left)"};

inline bool glass_shows(const Session &panel, const std::string &row0, const std::string &row1)
{
  const std::string drawing = box(row0, row1);
  return panel.out.size() >= drawing.size() &&
         panel.out.compare(panel.out.size() - drawing.size(), drawing.size(), drawing) == 0;
}

// The same with the module's cursor shown on a cell, as the live drawing
// says below the box.
inline bool glass_shows_cursor(const Session &panel, const std::string &row0, const std::string &row1,
                               int row, int column)
{
  const std::string drawing =
      box(row0, row1) + "cursor row " + std::to_string(row) + " column " + std::to_string(column) + "\n";
  return panel.out.size() >= drawing.size() &&
         panel.out.compare(panel.out.size() - drawing.size(), drawing.size(), drawing) == 0;
}

inline std::string last_drawings(const Session &panel)
{
  const size_t shown = 4 * box("", "").size();
  return panel.out.substr(panel.out.size() > shown ? panel.out.size() - shown : 0);
}

// The emulator's time of the trace line that holds a position.
inline long trace_ms(const std::string &err, size_t at)
{
  const size_t line = err.rfind('\n', at);
  const size_t start = line == std::string::npos ? 0 : line + 1;
  return strtol(err.c_str() + start + strlen("lcm-emu +"), nullptr, 10);
}

// A press is done once the panel has read the button held and then let go,
// so that the next press of the same button starts anew. A press the panel
// never read, because it was busy for the whole 300 ms the emulator holds
// a typed arrow, is typed again, as a user would press again.
inline void press(Session *panel, const Button &button)
{
  constexpr long TYPED_HOLD_MS = 300;
  for (int attempt = 0; attempt < 3; attempt++) {
    const size_t from = panel->err.size();
    ASSERT_EQ(write(panel->input, button.arrow.data(), button.arrow.size()),
              static_cast<ssize_t>(button.arrow.size()));
    bool done = false;
    bool missed = false;
    (void)collect_until(panel, [&](const Session &p) {
      const size_t holding = p.err.find("holding ", from);
      if (holding == std::string::npos)
        return false;
      const size_t held = p.err.find(button.held, holding);
      if (held != std::string::npos) {
        done = p.err.find("button query -> 0F", held) != std::string::npos;
        return done;
      }
      const long released_ms = trace_ms(p.err, holding) + TYPED_HOLD_MS;
      for (size_t none = p.err.find("button query -> 0F", holding); none != std::string::npos && !missed;
           none = p.err.find("button query -> 0F", none + 1))
        missed = trace_ms(p.err, none) >= released_ms;
      return missed;
    });
    if (done)
      return;
    if (!missed)
      break;
  }
  ADD_FAILURE() << "the panel never saw the button held and let go: " << button.held;
}

// Whatever the outcome, no program of the test outlives it.
struct Reaper {
  std::vector<EmulatorSession *> sessions;
  Reaper(const Reaper &) = delete;
  Reaper &operator=(const Reaper &) = delete;
  ~Reaper()
  {
    for (EmulatorSession *session : sessions) {
      if (session->pid > 0 && waitpid(session->pid, nullptr, WNOHANG) == 0) {
        kill(session->pid, SIGKILL);
        waitpid(session->pid, nullptr, 0);
      }
    }
  }
};

#endif
