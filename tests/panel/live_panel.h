// lcm-panel under lcm-emu --live, for the tests that press its buttons as a
// user would: arrow keys typed to the emulator, the glass as it redraws it.
//
//   press(&panel, button)               type the arrow; done once the panel has seen it held and let go
//   glass_shows(panel, row0, row1)      whether the last drawing is this screen
//   last_drawings(panel)                the last few drawings, for a failure's message
//   Reaper reaper{{&a, &b}};            kills what is still running when the test ends
#ifndef LCM_TESTS_PANEL_LIVE_PANEL_H
#define LCM_TESTS_PANEL_LIVE_PANEL_H

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

inline std::string last_drawings(const Session &panel)
{
  const size_t shown = 4 * box("", "").size();
  return panel.out.substr(panel.out.size() > shown ? panel.out.size() - shown : 0);
}

// A press is done once the panel has read the button held and then let go,
// so that the next press of the same button starts anew.
inline void press(Session *panel, const Button &button)
{
  const size_t from = panel->err.size();
  ASSERT_EQ(write(panel->input, button.arrow.data(), button.arrow.size()),
            static_cast<ssize_t>(button.arrow.size()));
  EXPECT_TRUE(collect_until(panel,
                            [&](const Session &p) {
                              const size_t held = p.err.find(button.held, from);
                              return held != std::string::npos &&
                                     p.err.find("button query -> 0F", held) != std::string::npos;
                            }))
      << "the panel never saw the button held and let go: " << button.held;
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
