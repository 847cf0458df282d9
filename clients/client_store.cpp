#include <algorithm>
#include <cstring>

#include "client_records.h"

std::array<Client, CLIENTS_MAX> clients;
HandOver hand_over;

namespace {

constexpr long long MS_PER_EIGHTH = 125;

unsigned long long generations;
unsigned long long connections;

bool is_urgent(int priority)
{
  return priority == SCREEN_ALERT || priority == SCREEN_INPUT;
}

// The screen a handle names, or nullptr when it is gone (or is the hand-over).
ClientScreen *screen_of(const ScreenHandle &handle)
{
  if (!client_in_use(handle.client) || handle.screen < 0 || handle.screen >= CLIENTS_SCREENS)
    return nullptr;
  ClientScreen &screen =
      clients[static_cast<std::size_t>(handle.client)].screens[static_cast<std::size_t>(handle.screen)];
  return screen.used && screen.generation == handle.generation ? &screen : nullptr;
}

bool is_hand_over(const ScreenHandle &handle)
{
  return handle.client == CLIENTS_PANEL && hand_over.shown && handle.generation == hand_over.generation;
}

ScreenHandle hand_over_handle()
{
  ScreenHandle handle;
  handle.client = CLIENTS_PANEL;
  handle.screen = 0;
  handle.generation = hand_over.generation;
  return handle;
}

// Every screen of every client, client by client, with its handle.
template <typename Visit> void each_screen(Visit visit)
{
  for (int client = 0; client < CLIENTS_MAX; client++) {
    if (!client_in_use(client))
      continue;
    for (int slot = 0; slot < CLIENTS_SCREENS; slot++) {
      const ClientScreen &screen =
          clients[static_cast<std::size_t>(client)].screens[static_cast<std::size_t>(slot)];
      if (screen.used)
        visit(ScreenHandle{client, slot, screen.generation}, screen);
    }
  }
}

// The screens the filter takes, after the count there are.
template <typename Filter> int collect(ScreenHandle *handles, int count, int capacity, Filter takes)
{
  each_screen([&](const ScreenHandle &handle, const ClientScreen &screen) {
    if (count < capacity && takes(screen))
      handles[count++] = handle;
  });
  return count;
}

// An alert or input screen that was not dismissed goes in front of the ring.
bool in_front(const ClientScreen &screen)
{
  return is_urgent(screen.priority) && !screen.dismissed;
}

unsigned long long urgent_since(const ScreenHandle &handle)
{
  if (handle.client == CLIENTS_PANEL)
    return hand_over.generation;
  return clients[static_cast<std::size_t>(handle.client)]
      .screens[static_cast<std::size_t>(handle.screen)]
      .urgent_since;
}

} // namespace

bool client_in_use(int client)
{
  return client >= 0 && client < CLIENTS_MAX && clients[static_cast<std::size_t>(client)].used;
}

unsigned long long client_next_generation()
{
  return ++generations;
}

int client_keep_id(ClientId *id, const ClientWord &word)
{
  if (word.length > CLIENTS_ID_MAX)
    return -1;
  std::copy(word.text, word.text + word.length, id->bytes.begin());
  id->length = word.length;
  id->bytes[word.length] = '\0';
  return 0;
}

void clients_reset()
{
  for (Client &client : clients)
    client = Client{};
  hand_over = HandOver{};
}

int clients_open()
{
  const int slot = client_free_slot(clients);
  if (slot < 0)
    return -1;
  Client &opened = clients[static_cast<std::size_t>(slot)];
  opened = Client{};
  opened.used = true;
  // Never 0, the mark of a free slot.
  opened.connection = ++connections;
  return slot;
}

void clients_remove(int client)
{
  if (!client_in_use(client))
    return;
  if (hand_over.waiting && hand_over.client == client)
    hand_over.waiting = false;
  clients[static_cast<std::size_t>(client)] = Client{};
}

unsigned long long clients_connection(int client)
{
  return client_in_use(client) ? clients[static_cast<std::size_t>(client)].connection : 0;
}

const char *clients_name(int client)
{
  return client_in_use(client) ? clients[static_cast<std::size_t>(client)].name.bytes.data() : "";
}

bool clients_greeted(int client)
{
  return client_in_use(client) && clients[static_cast<std::size_t>(client)].greeted;
}

int client_find_screen(int client, const ClientWord &word)
{
  const Client &owner = clients[static_cast<std::size_t>(client)];
  for (std::size_t slot = 0; slot < owner.screens.size(); slot++) {
    if (owner.screens[slot].used && client_same(owner.screens[slot].id, word))
      return static_cast<int>(slot);
  }
  return -1;
}

int client_find_widget(int client, int screen, const ClientWord &word)
{
  const Client &owner = clients[static_cast<std::size_t>(client)];
  for (std::size_t slot = 0; slot < owner.widgets.size(); slot++) {
    const ClientWidget &widget = owner.widgets[slot];
    if (widget.used && widget.screen == screen && client_same(widget.id, word))
      return static_cast<int>(slot);
  }
  return -1;
}

// A frame goes with everything in it, and with what is in frames in it.
void client_remove_widget(int client, int widget)
{
  Client &owner = clients[static_cast<std::size_t>(client)];
  owner.widgets[static_cast<std::size_t>(widget)].used = false;
  bool removed = true;
  while (removed) {
    removed = false;
    for (ClientWidget &inner : owner.widgets) {
      if (inner.used && inner.frame >= 0 && !owner.widgets[static_cast<std::size_t>(inner.frame)].used) {
        inner.used = false;
        removed = true;
      }
    }
  }
}

void client_remove_screen(int client, int screen)
{
  Client &owner = clients[static_cast<std::size_t>(client)];
  for (ClientWidget &widget : owner.widgets) {
    if (widget.screen == screen)
      widget.used = false;
  }
  owner.screens[static_cast<std::size_t>(screen)].used = false;
}

// Saying the same class again changes nothing, so a client that repeats its
// settings with every update neither jumps ahead nor undoes a dismissal. A
// dismissal ends with the alert: in another class the screen shows as that.
void client_set_priority(ClientScreen *screen, int priority)
{
  if (screen->priority == priority)
    return;
  screen->priority = priority;
  screen->dismissed = false;
  if (is_urgent(priority))
    screen->urgent_since = client_next_generation();
}

void client_hand_over(int client, const PanelRows &rows)
{
  if (hand_over.waiting)
    clients_hand_over_answer("huh? Replaced by a later lcm_show");
  hand_over.shown = true;
  hand_over.generation = client_next_generation();
  hand_over.rows = rows;
  hand_over.waiting = true;
  hand_over.client = client;
  hand_over.connection = clients_connection(client);
}

int clients_screens(ScreenHandle *handles, int capacity)
{
  const int count = collect(handles, 0, capacity, [](const ClientScreen & /*screen*/) { return true; });
  std::sort(handles, handles + count,
            [](const ScreenHandle &a, const ScreenHandle &b) { return a.generation < b.generation; });
  return count;
}

int clients_urgent(ScreenHandle *handles, int capacity)
{
  int count = 0;
  if (hand_over.shown && capacity > 0)
    handles[count++] = hand_over_handle();
  count = collect(handles, count, capacity, in_front);
  std::sort(handles, handles + count,
            [](const ScreenHandle &a, const ScreenHandle &b) { return urgent_since(a) > urgent_since(b); });
  return count;
}

// The view asks this several times a pass: a look at every screen, no sort.
bool clients_newest_urgent(ScreenHandle *handle)
{
  bool found = hand_over.shown;
  if (found)
    *handle = hand_over_handle();
  each_screen([&](const ScreenHandle &candidate, const ClientScreen &screen) {
    if (in_front(screen) && (!found || screen.urgent_since > urgent_since(*handle))) {
      *handle = candidate;
      found = true;
    }
  });
  return found;
}

bool clients_valid(const ScreenHandle &handle)
{
  return is_hand_over(handle) || screen_of(handle) != nullptr;
}

int clients_priority(const ScreenHandle &handle)
{
  if (is_hand_over(handle))
    return SCREEN_ALERT;
  const ClientScreen *screen = screen_of(handle);
  if (screen == nullptr || screen->dismissed)
    return SCREEN_HIDDEN;
  return screen->priority;
}

const char *clients_screen_id(const ScreenHandle &handle)
{
  const ClientScreen *screen = screen_of(handle);
  return screen != nullptr ? screen->id.bytes.data() : "";
}

long long clients_duration_ms(const ScreenHandle &handle)
{
  const ClientScreen *screen = screen_of(handle);
  return screen != nullptr ? screen->duration * MS_PER_EIGHTH : 0;
}

long long clients_timeout_left_ms(const ScreenHandle &handle)
{
  const ClientScreen *screen = screen_of(handle);
  if (screen == nullptr || screen->timeout <= 0)
    return -1;
  return std::max(0LL, screen->timeout * MS_PER_EIGHTH - screen->viewed_ms);
}

int clients_count_view(const ScreenHandle &handle, long long elapsed_ms)
{
  ClientScreen *screen = screen_of(handle);
  if (screen == nullptr)
    return 0;
  screen->viewed_ms += std::max(0LL, elapsed_ms);
  if (screen->timeout <= 0 || screen->viewed_ms < screen->timeout * MS_PER_EIGHTH)
    return 0;
  client_remove_screen(handle.client, handle.screen);
  return 1;
}

void clients_dismiss(const ScreenHandle &handle)
{
  if (is_hand_over(handle)) {
    hand_over.shown = false;
    return;
  }
  ClientScreen *screen = screen_of(handle);
  if (screen != nullptr && is_urgent(screen->priority))
    screen->dismissed = true;
}

// A cursor placed off the glass cannot be shown.
bool clients_cursor(const ScreenHandle &handle, int *row, int *column)
{
  const ClientScreen *screen = screen_of(handle);
  if (screen == nullptr || !screen->cursor || screen->cursor_x > LCM_COLUMNS || screen->cursor_y > LCM_ROWS)
    return false;
  *row = screen->cursor_y - 1;
  *column = screen->cursor_x - 1;
  return true;
}

// A screen that leaves its light open shows its client's; toggle shows
// the other of on and off from its client's. The hand-over is always lit.
int clients_light(const ScreenHandle &handle)
{
  const ClientScreen *screen = screen_of(handle);
  if (screen == nullptr)
    return SCREEN_LIGHT_ON;
  const int own = clients[static_cast<std::size_t>(handle.client)].backlight;
  if (screen->backlight == LIGHT_OPEN)
    return own;
  if (screen->backlight == LIGHT_TOGGLE)
    return client_light_toggled(own);
  return screen->backlight;
}
