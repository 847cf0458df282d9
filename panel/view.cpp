// The screen in view, from the layers at the front: a display client's alert
// or input screen (or lcm-show's lines), newest first; then the action menu
// with its question, running, result and busy screens; then the ring. A
// press goes to the front-most layer that takes it, unless a client has
// reserved its key.
#include "clients.h"
#include "panel_internal.h"

namespace {

Menu menu;
// The client's screen in view at the last look, told "listen"; client -1
// while none is.
ScreenHandle told;
long long counted_ms;

bool is_clients(const ScreenHandle &handle)
{
  return handle.client >= 0 && handle.client < CLIENTS_MAX;
}

bool menu_shows()
{
  PanelRows unused{};
  return menu_rows(menu, &unused);
}

// The screen in view when it is a display client's, or lcm-show's lines.
ScreenHandle shown_screen()
{
  ScreenHandle handle;
  if (clients_newest_urgent(&handle))
    return handle;
  if (menu_shows())
    return ScreenHandle{};
  return ring_client_screen();
}

// An exclusive key goes to its client wherever the panel is; a shared one
// to the client whose screen is in view.
bool to_client(int key, const ScreenHandle &shown)
{
  const char *name = clients_key_name(key);
  if (name == nullptr)
    return false;
  const int owner = clients_key_owner(name, is_clients(shown) ? shown.client : -1);
  if (owner < 0)
    return false;
  clients_send_key(owner, name);
  return true;
}

int glass_light_of(int light)
{
  switch (light) {
  case SCREEN_LIGHT_OFF:
    return GLASS_LIGHT_OFF;
  case SCREEN_LIGHT_BLINK:
    return GLASS_LIGHT_BLINK;
  case SCREEN_LIGHT_FLASH:
    return GLASS_LIGHT_FLASH;
  default:
    return GLASS_LIGHT_ON;
  }
}

// The module's cursor and light as the client's screen in view asks; for
// anything else, the cursor hidden and the light on.
void take_look(const ScreenHandle &shown, PanelGlass *glass)
{
  glass->cursor = clients_cursor(shown, &glass->cursor_row, &glass->cursor_column);
  glass->light = glass_light_of(clients_light(shown));
}

void tell_clients(const ScreenHandle &shown)
{
  if (clients_same_screen(shown, told))
    return;
  if (is_clients(told))
    clients_send_ignore(told);
  if (is_clients(shown))
    clients_send_listen(shown);
  told = is_clients(shown) ? shown : ScreenHandle{};
}

} // namespace

void view_begin(const PanelOptions &options, long long now_ms)
{
  menu_begin(&menu, options.action_count, options.action_labels.data());
  told = ScreenHandle{};
  counted_ms = now_ms;
}

// A press on an alert dismisses it and does nothing else; on an input
// screen it does nothing unless its client reserved the key.
void view_press(int key, long long now_ms)
{
  const ScreenHandle shown = shown_screen();
  if (to_client(key, shown))
    return;
  ScreenHandle first;
  if (clients_newest_urgent(&first)) {
    if (clients_priority(first) == SCREEN_ALERT)
      clients_dismiss(first);
    return;
  }
  const int taken = menu_press(&menu, key, now_ms);
  if (taken == MENU_RUN)
    actions_start(&menu, now_ms);
  else if (taken == MENU_PASS)
    (void)ring_press(key, now_ms);
}

// A screen's timeout counts only while it is in view.
void view_tend(long long now_ms)
{
  actions_tend(&menu, now_ms);
  menu_tick(&menu, now_ms);
  ring_tend(now_ms);
  const ScreenHandle shown = shown_screen();
  if (is_clients(shown))
    (void)clients_count_view(shown, now_ms - counted_ms);
  counted_ms = now_ms;
  tell_clients(shown_screen());
}

void view_held(int /*key*/, long long /*held_ms*/, long long /*now_ms*/)
{
}

void view_glass(long long now_ms, PanelGlass *glass)
{
  *glass = PanelGlass{};
  ScreenHandle first;
  if (clients_newest_urgent(&first) && clients_render(first, now_ms, &glass->rows) == 0) {
    take_look(first, glass);
    return;
  }
  if (menu_rows(menu, &glass->rows))
    return;
  ring_rows(now_ms, &glass->rows);
  take_look(ring_client_screen(), glass);
}

void view_reload(const PanelOptions &options, long long now_ms)
{
  menu_reload(&menu, options.action_count, options.action_labels.data(), now_ms);
}

PanelSight view_sight()
{
  PanelSight sight;
  if (clients_newest_urgent(&sight.screen))
    return sight;
  sight.screen = ScreenHandle{};
  if (menu_shows()) {
    sight.menu_state = menu.state;
    sight.menu_chosen = menu.chosen;
    return sight;
  }
  sight.screen = ring_client_screen();
  sight.page = ring_page();
  return sight;
}

bool view_shows_hand_over()
{
  ScreenHandle first;
  return clients_newest_urgent(&first) && first.client == CLIENTS_PANEL;
}

void view_end()
{
  ring_end();
  actions_end();
}
