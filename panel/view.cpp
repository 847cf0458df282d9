// The screen in view, from the layers at the front: a display client's alert
// or input screen (or lcm-show's lines), newest first; then the main menu
// with the actions' question, running, result and busy screens and the
// clients' menus; then the ring. A press goes to the front-most layer that
// takes it, unless a client has reserved its key. Holding Left is the
// panel's own, whatever clients reserved.
#include "clients.h"
#include "panel_internal.h"

namespace {

constexpr long long TAKE_BACK_MS = 2000;

Menu menu;
// The client's screen in view at the last look, told "listen"; client -1
// while none is.
ScreenHandle told;
long long counted_ms;
// Since Left was held for the take-back, until a client's screen is in
// view again, no key goes to a client.
bool taken_back;
// The take-back was made for the Left held now.
bool left_taken;

bool is_clients(const ScreenHandle &handle)
{
  return handle.client >= 0 && handle.client < CLIENTS_MAX;
}

bool menu_shows()
{
  PanelGlass unused{};
  return menu_glass(menu, &unused);
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

// The glass back to the first page, every alert and input screen in front
// dismissed, the menu closed, and the panel's own main menu the way in.
void take_back(long long now_ms)
{
  menu_close(&menu, now_ms);
  ScreenHandle front;
  for (int screen = 0; screen < CLIENTS_ALL_SCREENS && clients_newest_urgent(&front); screen++)
    clients_dismiss(front);
  clients_menu_reset_entry();
  ring_take_back(now_ms);
  taken_back = true;
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
  taken_back = false;
  left_taken = false;
}

// A press on an alert dismisses it and does nothing else; on an input
// screen it does nothing unless its client reserved the key.
void view_press(int key, long long now_ms)
{
  const ScreenHandle shown = shown_screen();
  if (!taken_back && to_client(key, shown))
    return;
  ScreenHandle first;
  if (clients_newest_urgent(&first)) {
    if (clients_priority(first) == SCREEN_ALERT)
      clients_dismiss(first);
    return;
  }
  // With a menu, Right and Left on the pages open it or do nothing.
  const bool sideways = key == KEY_RIGHT || key == KEY_LEFT;
  if (menu_press(&menu, key, now_ms) == MENU_PASS && !(sideways && menu_has_entries(menu)))
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
  const ScreenHandle now_shown = shown_screen();
  if (is_clients(now_shown))
    taken_back = false;
  tell_clients(now_shown);
}

void view_held(int key, long long held_ms, long long now_ms)
{
  const bool taking = key == KEY_LEFT && held_ms >= TAKE_BACK_MS;
  if (taking && !left_taken)
    take_back(now_ms);
  left_taken = taking;
  if (menu_held(&menu, key, held_ms, now_ms) == MENU_RUN)
    actions_start(&menu, now_ms);
}

void view_glass(long long now_ms, PanelGlass *glass)
{
  *glass = PanelGlass{};
  ScreenHandle first;
  if (clients_newest_urgent(&first) && clients_render(first, now_ms, &glass->rows) == 0) {
    take_look(first, glass);
    return;
  }
  if (menu_glass(menu, glass))
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
