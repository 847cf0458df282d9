// The ring: the layer at the back of the screen in view, always there. The
// pages come first, then the display clients' foreground and info screens
// in the order they were added; the buttons (and --rotate) turn it.
#include <array>

#include "clients.h"
#include "panel_internal.h"

namespace {

const PanelOptions *settings;
// The page shown, or -1 while a client's screen is.
int page;
ScreenHandle client_screen;
// Where the shown entry stood when last looked at: when a client's screen
// goes, the entry that followed it has taken its place.
int position;
long long turned_ms;

std::array<ScreenHandle, CLIENTS_ALL_SCREENS> ring_screens;
int ring_screen_count;

bool is_ring_class(int priority)
{
  return priority == SCREEN_FOREGROUND || priority == SCREEN_INFO;
}

// Every client screen, then those of the ring's classes kept in their order.
void collect_ring_screens()
{
  const int count = clients_screens(ring_screens.data(), static_cast<int>(ring_screens.size()));
  ring_screen_count = 0;
  for (int i = 0; i < count; i++) {
    const ScreenHandle handle = ring_screens[static_cast<std::size_t>(i)];
    if (is_ring_class(clients_priority(handle)))
      ring_screens[static_cast<std::size_t>(ring_screen_count++)] = handle;
  }
}

int entry_count()
{
  return settings->page_count + ring_screen_count;
}

// The shown entry's place in the ring as it is now.
int current_entry()
{
  if (page >= 0)
    return page;
  for (int i = 0; i < ring_screen_count; i++) {
    if (clients_same_screen(ring_screens[static_cast<std::size_t>(i)], client_screen))
      return settings->page_count + i;
  }
  return position < entry_count() ? position : 0;
}

void show_entry(int entry, long long now_ms)
{
  // From one page to another the old text stays until the new one is read.
  const bool keep_view = page >= 0;
  position = entry;
  turned_ms = now_ms;
  if (entry < settings->page_count) {
    if (entry != page)
      pages_show(entry, keep_view, now_ms);
    page = entry;
    return;
  }
  // Only the page in view runs its command.
  if (keep_view)
    pages_end();
  page = -1;
  client_screen = ring_screens[static_cast<std::size_t>(entry - settings->page_count)];
}

// A key turns the ring as it pages: Down and Right forward, Up and Left
// back, wrapping round; --rotate turns it as Down does.
void turn(int key, long long now_ms)
{
  collect_ring_screens();
  show_entry(panel_page_after(current_entry(), entry_count(), key), now_ms);
}

long long stay_ms()
{
  const long long duration = page < 0 ? clients_duration_ms(client_screen) : 0;
  return duration > 0 ? duration : settings->rotate_ms;
}

} // namespace

void ring_begin(const PanelOptions &options, long long now_ms)
{
  settings = &options;
  page = 0;
  position = 0;
  turned_ms = now_ms;
  ring_screen_count = 0;
  pages_begin(options, now_ms);
}

// Up and Down turn the ring; so do Right and Left when no action menu
// takes them.
bool ring_press(int key, long long now_ms)
{
  const bool sideways = key == KEY_RIGHT || key == KEY_LEFT;
  if (key == 0 || (sideways && settings->action_count > 0))
    return false;
  turn(key, now_ms);
  return true;
}

// A client's screen that went, or left the ring's classes, gives way to the
// entry after it.
void ring_tend(long long now_ms)
{
  collect_ring_screens();
  if (page < 0) {
    const int entry = current_entry();
    if (entry < settings->page_count ||
        !clients_same_screen(client_screen,
                             ring_screens[static_cast<std::size_t>(entry - settings->page_count)]))
      show_entry(entry, now_ms);
    else
      position = entry;
  }
  if (settings->rotate_ms > 0 && now_ms - turned_ms >= stay_ms())
    turn(KEY_DOWN, now_ms);
  if (page >= 0)
    pages_tend(now_ms);
}

void ring_rows(long long now_ms, PanelRows *rows)
{
  if (page >= 0 || clients_render(client_screen, now_ms, rows) < 0)
    *rows = pages_rows();
}

void ring_show_first(long long now_ms)
{
  show_entry(0, now_ms);
}

ScreenHandle ring_client_screen()
{
  return page < 0 ? client_screen : ScreenHandle{};
}

void ring_end()
{
  pages_end();
}
