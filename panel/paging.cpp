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

// A press acts once, when it starts: the reply before it held no button or
// another one. Replies outside the four key codes (none held, several held)
// start nothing.
int panel_press(int *held, int reply)
{
  const int before = *held;
  *held = reply;
  const bool is_key = reply == KEY_UP || reply == KEY_DOWN || reply == KEY_RIGHT || reply == KEY_LEFT;
  return is_key && reply != before ? reply : 0;
}
