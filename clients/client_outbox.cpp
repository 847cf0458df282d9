#include <algorithm>
#include <cstring>

#include "client_records.h"

namespace {

void send_about(const ScreenHandle &handle, const char *event)
{
  if (handle.client == CLIENTS_PANEL || !clients_valid(handle))
    return;
  const ClientScreen &screen =
      clients[static_cast<std::size_t>(handle.client)].screens[static_cast<std::size_t>(handle.screen)];
  (void)client_queue(handle.client, event, strlen(event));
  (void)client_queue(handle.client, screen.id.bytes.data(), screen.id.length);
  (void)client_queue(handle.client, "\n", 1);
}

} // namespace

// What does not fit is dropped whole and the client marked: the server
// drops a client that lets its lines pile up.
int client_queue(int client, const char *text, std::size_t length)
{
  Client &owner = clients[static_cast<std::size_t>(client)];
  if (owner.overflowed || length > owner.outbox.size() - owner.outbox_length) {
    owner.overflowed = true;
    return -1;
  }
  std::memcpy(owner.outbox.data() + owner.outbox_length, text, length);
  owner.outbox_length += length;
  return 0;
}

int client_queue_line(int client, const char *text)
{
  if (client_queue(client, text, strlen(text)) < 0)
    return -1;
  return client_queue(client, "\n", 1);
}

const char *clients_outbox(int client, std::size_t *length)
{
  if (!client_in_use(client)) {
    *length = 0;
    return "";
  }
  const Client &owner = clients[static_cast<std::size_t>(client)];
  *length = owner.outbox_length;
  return owner.outbox.data();
}

void clients_outbox_sent(int client, std::size_t count)
{
  if (!client_in_use(client))
    return;
  Client &owner = clients[static_cast<std::size_t>(client)];
  count = std::min(count, owner.outbox_length);
  std::memmove(owner.outbox.data(), owner.outbox.data() + count, owner.outbox_length - count);
  owner.outbox_length -= count;
}

bool clients_outbox_overflowed(int client)
{
  return client_in_use(client) && clients[static_cast<std::size_t>(client)].overflowed;
}

void clients_send_listen(const ScreenHandle &handle)
{
  send_about(handle, "listen ");
}

void clients_send_ignore(const ScreenHandle &handle)
{
  send_about(handle, "ignore ");
}

void clients_send_key(int client, const char *key)
{
  if (!client_in_use(client))
    return;
  (void)client_queue(client, "key ", 4);
  (void)client_queue_line(client, key);
}

bool clients_hand_over_waiting()
{
  return hand_over.waiting && clients_connection(hand_over.client) == hand_over.connection;
}

// A client that went away meanwhile is not answered: its slot may hold
// another connection by now.
void clients_hand_over_answer(const char *reply)
{
  if (clients_hand_over_waiting())
    (void)client_queue_line(hand_over.client, reply);
  hand_over.waiting = false;
}
