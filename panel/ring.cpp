// The ring: the layer at the back of the screen in view. What it holds
// follows the display clients' screens, by priority: while any foreground
// screen exists, the foreground screens alone; when none does, the pages
// and then the info screens; when there are neither, the background
// screens; each in the order they were added. The buttons (and --rotate)
// turn it; with nothing in it, the glass stays blank.
#include <algorithm>
#include <array>

#include "clients.h"
#include "panel_internal.h"

namespace {

// What the ring holds, lowest first.
constexpr int HOLDS_NOTHING = 0;
constexpr int HOLDS_BACKGROUND = 1;
constexpr int HOLDS_INFO = 2;
constexpr int HOLDS_FOREGROUND = 3;

const PanelOptions *settings;
int holds;
// The page shown, or -1 while a client's screen (or nothing) is.
int page;
// The client's screen shown while no page is; client -1 for none.
ScreenHandle client_screen;
// Where the shown entry stood when last looked at: when a client's screen
// goes, the entry that followed it has taken its place.
int position;
long long turned_ms;
// What the pages and info screens showed when foreground screens took the
// display: it shows again when they have gone.
int info_page;
ScreenHandle info_screen;
int info_position;
// The last turn was a press: the screen paged to stays --hold long.
bool paged;
// Since Left held took the glass back, until the ring turns to a client's
// screen: foreground screens wait in the ring after the pages, as info
// screens do, so that none can keep the pages out of sight.
bool taken_back;

std::array<ScreenHandle, CLIENTS_ALL_SCREENS> ring_screens;
int ring_screen_count;

// Hidden, alert and input screens (and dismissed alerts) are never in it.
int holding_of(int priority)
{
  if (priority == SCREEN_FOREGROUND)
    return taken_back ? HOLDS_INFO : HOLDS_FOREGROUND;
  if (priority == SCREEN_INFO)
    return HOLDS_INFO;
  if (priority == SCREEN_BACKGROUND)
    return HOLDS_BACKGROUND;
  return HOLDS_NOTHING;
}

// Every client screen, then those of the highest class there is, kept in
// their order. The pages count as info screens.
void collect_ring_screens()
{
  const int count = clients_screens(ring_screens.data(), static_cast<int>(ring_screens.size()));
  holds = settings->page_count > 0 ? HOLDS_INFO : HOLDS_NOTHING;
  for (int i = 0; i < count; i++)
    holds = std::max(holds, holding_of(clients_priority(ring_screens[static_cast<std::size_t>(i)])));
  ring_screen_count = 0;
  for (int i = 0; i < count; i++) {
    const ScreenHandle handle = ring_screens[static_cast<std::size_t>(i)];
    if (holds != HOLDS_NOTHING && holding_of(clients_priority(handle)) == holds)
      ring_screens[static_cast<std::size_t>(ring_screen_count++)] = handle;
  }
}

int pages_in_ring()
{
  return holds == HOLDS_INFO ? settings->page_count : 0;
}

int entry_count()
{
  return pages_in_ring() + ring_screen_count;
}

// The entry of a client's screen; fallback when it is not in the ring.
int entry_of(const ScreenHandle &handle, int fallback)
{
  for (int i = 0; i < ring_screen_count; i++) {
    if (clients_same_screen(ring_screens[static_cast<std::size_t>(i)], handle))
      return pages_in_ring() + i;
  }
  return fallback < entry_count() ? fallback : 0;
}

// The shown entry's place in the ring as it is now.
int current_entry()
{
  return page >= 0 ? page : entry_of(client_screen, position);
}

// From one page to another the old text stays until the new one is read;
// coming from a client's screen, the page's last text shows at once. Only
// the page in view runs its command.
void show_entry(int entry, long long now_ms)
{
  const bool from_page = page >= 0;
  position = entry;
  turned_ms = now_ms;
  paged = false;
  if (entry < pages_in_ring()) {
    if (entry != page)
      pages_show(entry, from_page, now_ms);
    page = entry;
    return;
  }
  if (from_page)
    pages_end();
  page = -1;
  client_screen = entry < entry_count() ? ring_screens[static_cast<std::size_t>(entry - pages_in_ring())]
                                        : ScreenHandle{};
}

// When foreground screens take the display, the ring starts on the first
// of them; when they go, what the pages and info screens showed before
// comes back, or the first of them.
void change_holding(int held_before, long long now_ms)
{
  if (held_before == HOLDS_INFO) {
    info_page = page;
    info_screen = client_screen;
    info_position = position;
  }
  if (holds == HOLDS_INFO)
    show_entry(info_page >= 0 ? info_page : entry_of(info_screen, info_position), now_ms);
  else
    show_entry(0, now_ms);
}

// A client's screen that went, or left the class the ring holds, gives way
// to the entry after it.
void follow_screens(long long now_ms)
{
  const int held_before = holds;
  collect_ring_screens();
  if (holds != held_before) {
    change_holding(held_before, now_ms);
    return;
  }
  if (page >= 0 || entry_count() == 0)
    return;
  const int entry = current_entry();
  if (entry < pages_in_ring() ||
      !clients_same_screen(client_screen, ring_screens[static_cast<std::size_t>(entry - pages_in_ring())]))
    show_entry(entry, now_ms);
  else
    position = entry;
}

// A key turns the ring as it pages: Down and Right forward, Up and Left
// back, wrapping round; --rotate turns it as Down does.
void turn(int key, long long now_ms)
{
  follow_screens(now_ms);
  if (entry_count() > 0)
    show_entry(panel_page_after(current_entry(), entry_count(), key), now_ms);
  if (page < 0 && taken_back) {
    taken_back = false;
    follow_screens(now_ms);
  }
}

long long stay_ms()
{
  if (paged && settings->hold_ms > 0)
    return settings->hold_ms;
  const long long duration = page < 0 ? clients_duration_ms(client_screen) : 0;
  return duration > 0 ? duration : settings->rotate_ms;
}

} // namespace

void ring_begin(const PanelOptions &options, long long now_ms)
{
  settings = &options;
  holds = options.page_count > 0 ? HOLDS_INFO : HOLDS_NOTHING;
  page = options.page_count > 0 ? 0 : -1;
  client_screen = ScreenHandle{};
  position = 0;
  turned_ms = now_ms;
  info_page = page;
  info_screen = ScreenHandle{};
  info_position = 0;
  paged = false;
  taken_back = false;
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
  paged = true;
  return true;
}

// A client's screen in view stays; so does the page in view, by its place,
// or the first page when there are fewer now. Either gets its whole stay
// before the ring turns by itself.
void ring_reload(long long now_ms)
{
  pages_reload(now_ms);
  turned_ms = now_ms;
  if (page < 0)
    return;
  if (settings->page_count == 0) {
    page = -1;
    client_screen = ScreenHandle{};
  } else if (page >= settings->page_count) {
    page = 0;
    position = 0;
    pages_show(0, true, now_ms);
  }
}

int ring_page()
{
  return page;
}

void ring_tend(long long now_ms)
{
  follow_screens(now_ms);
  if (settings->rotate_ms > 0 && now_ms - turned_ms >= stay_ms())
    turn(KEY_DOWN, now_ms);
  if (page >= 0)
    pages_tend(now_ms);
}

// Nothing in the ring, or a screen that went since it was last looked at,
// leaves the glass blank.
void ring_rows(long long now_ms, PanelRows *rows)
{
  if (page >= 0) {
    *rows = pages_rows();
    return;
  }
  if (clients_render(client_screen, now_ms, rows) < 0) {
    for (PanelRow &row : *rows)
      row.fill(' ');
  }
}

// The first page, or a blank glass when there is none, whatever the
// clients' screens; the buttons then turn the ring to them.
void ring_take_back(long long now_ms)
{
  taken_back = true;
  follow_screens(now_ms);
  if (pages_in_ring() > 0) {
    show_entry(0, now_ms);
    return;
  }
  if (page >= 0)
    pages_end();
  page = -1;
  client_screen = ScreenHandle{};
  position = 0;
  turned_ms = now_ms;
}

ScreenHandle ring_client_screen()
{
  return page < 0 ? client_screen : ScreenHandle{};
}

void ring_end()
{
  pages_end();
}
