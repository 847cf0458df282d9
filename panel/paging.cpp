#include "panel.h"

int panel_page_after(int page, int count, int key)
{
  if (count <= 0)
    return page;
  if (key == KEY_DOWN || key == KEY_RIGHT)
    return (page + 1) % count;
  if (key == KEY_UP || key == KEY_LEFT)
    return (page + count - 1) % count;
  return page;
}

// A press acts once, when it starts; the time a button has been held alone
// is kept for the presses that last.
int panel_press(PanelButtons *buttons, int reply, long long now_ms)
{
  const int key = lcm_key_of(reply);
  const bool starts = key != 0 && buttons->released;
  if (key != buttons->held || starts)
    buttons->held_since_ms = now_ms;
  buttons->held = key;
  buttons->released = reply == 0x0F;
  return starts ? key : 0;
}
