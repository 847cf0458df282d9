// The display switched off when nobody looks: after a while without a
// press and without another screen coming into view. A press then only
// wakes it, so that nobody acts on a screen they could not see; another
// screen coming (an alert, the ring turning by itself) wakes it too.
#include "panel.h"

namespace {

PanelSight seen;
// The last press or change of the screen in view.
long long active_ms;
// Whether the light was off at the last look.
bool off;
// The button whose press woke the display, while it is still held.
int waking_key;

bool same_sight(const PanelSight &a, const PanelSight &b)
{
  return clients_same_screen(a.screen, b.screen) && a.menu_state == b.menu_state &&
         a.menu_chosen == b.menu_chosen && a.page == b.page;
}

} // namespace

void idle_begin(long long now_ms)
{
  seen = PanelSight{};
  active_ms = now_ms;
  off = false;
  waking_key = 0;
}

// The press that wakes the display, and that button held on, go no further.
bool idle_press(int key, int held, long long now_ms)
{
  if (key != 0) {
    active_ms = now_ms;
    waking_key = off ? key : 0;
    return waking_key != 0;
  }
  if (waking_key != 0 && held == waking_key)
    return true;
  waking_key = 0;
  return false;
}

void idle_look(const PanelSight &sight, int off_after_ms, long long now_ms, PanelGlass *glass)
{
  if (!same_sight(sight, seen)) {
    seen = sight;
    active_ms = now_ms;
  }
  off = off_after_ms > 0 && now_ms - active_ms >= off_after_ms;
  if (off)
    glass->light = GLASS_LIGHT_OFF;
}
