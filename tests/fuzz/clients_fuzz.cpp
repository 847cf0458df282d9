// Feeds the display clients' protocol any request lines, as clients on the
// panel's socket could send them: four clients take the lines in turn, time
// moves on a little with each, every screen is drawn at a few times, and
// after each line a button walks the menus the clients made. Whatever
// comes, the rows hold nothing the module would take for a command, and a
// client's screen nothing but cells the module draws as themselves
// (lcm_show's lines keep their bytes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clients.h"

namespace {

constexpr int FUZZED_CLIENTS = 4;
constexpr long long MS_PER_LINE = 50;

void check_rows(const PanelRows &rows, bool hand_over)
{
  for (const PanelRow &row : rows)
    for (const unsigned char byte : row)
      if (byte < 0x20 || byte == 0x7F || byte == 0xFE || (!hand_over && byte > 0x7E))
        abort();
}

void drain(int client)
{
  std::size_t length = 0;
  (void)clients_outbox(client, &length);
  if (length > CLIENTS_OUTBOX + CLIENTS_LINE_MAX)
    abort();
  clients_outbox_sent(client, length);
}

// The line's length picks the button, and whether it is held a while; a
// walk that left its client's menu opens the next client's.
void walk_menus(int client, std::size_t length)
{
  constexpr int KEYS = 4;
  const int key = static_cast<int>(length % KEYS) + 1;
  if (!clients_menu_walking())
    clients_menu_open(client, length % 2 == 0);
  if (length % 7 == 0)
    clients_menu_held(key, static_cast<long long>(length) * 100);
  else
    (void)clients_menu_press(key);
  PanelRows rows{};
  int cursor = -1;
  if (clients_menu_rows(&rows, &cursor)) {
    check_rows(rows, false);
    if (cursor >= LCM_COLUMNS)
      abort();
  }
}

void draw_everything(long long now_ms)
{
  static std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  const int count = clients_screens(handles.data(), CLIENTS_ALL_SCREENS);
  const int urgent = clients_urgent(handles.data() + count, CLIENTS_ALL_SCREENS - count);
  for (int i = 0; i < count + urgent; i++) {
    const ScreenHandle &handle = handles[static_cast<std::size_t>(i)];
    for (const long long later : {0LL, 1000LL, 123457LL}) {
      PanelRows rows{};
      if (clients_render(handle, now_ms + later, &rows) == 0)
        check_rows(rows, handle.client == CLIENTS_PANEL);
    }
    if (clients_count_view(handle, 700) == 0 && i % 2 == 1)
      clients_dismiss(handle);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
  clients_reset();
  int clients[FUZZED_CLIENTS];
  for (int &client : clients)
    client = clients_open();
  static std::vector<char> line(CLIENTS_LINE_MAX);
  long long now_ms = 0;
  int turn = 0;
  std::size_t start = 0;
  while (start < size) {
    const auto *end = static_cast<const std::uint8_t *>(memchr(data + start, '\n', size - start));
    const std::size_t length = (end != nullptr ? static_cast<std::size_t>(end - data) : size) - start;
    int &client = clients[turn++ % FUZZED_CLIENTS];
    if (length > CLIENTS_LINE_MAX) {
      clients_line_too_long(client);
    } else {
      memcpy(line.data(), data + start, length);
      now_ms += MS_PER_LINE;
      if (clients_execute(client, line.data(), length, now_ms) == CLIENTS_BYE) {
        clients_remove(client);
        client = clients_open();
      }
    }
    walk_menus(client, length);
    drain(client);
    start += length + 1;
  }
  draw_everything(now_ms);
  if (clients_hand_over_waiting())
    clients_hand_over_answer("success");
  return 0;
}
