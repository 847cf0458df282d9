#include <cstring>

#include "client_records.h"

namespace {

KeyReservation *reservation(int client, const ClientWord &key)
{
  for (KeyReservation &held : clients[static_cast<std::size_t>(client)].keys) {
    if (held.used && client_same(held.name, key))
      return &held;
  }
  return nullptr;
}

// Whether another client holds the key in a way that rules this one out:
// an exclusive reservation shuts out everyone else; a shared one shuts out
// only a client that wants the key for itself alone.
bool taken_by_another(int client, const ClientWord &key, bool exclusive)
{
  for (int other = 0; other < CLIENTS_MAX; other++) {
    if (other == client || !client_in_use(other))
      continue;
    const KeyReservation *held = reservation(other, key);
    if (held != nullptr && (exclusive || held->exclusive))
      return true;
  }
  return false;
}

// nullptr when reserved, or the reason it could not be.
const char *reserve(int client, const ClientWord &key, bool exclusive)
{
  if (key.length > CLIENTS_KEY_NAME_MAX)
    return "Key name too long";
  if (taken_by_another(client, key, exclusive))
    return "Could not reserve key";
  KeyReservation *held = reservation(client, key);
  if (held == nullptr) {
    auto &keys = clients[static_cast<std::size_t>(client)].keys;
    const int free = client_free_slot(keys);
    if (free < 0)
      return "Too many keys";
    held = &keys[static_cast<std::size_t>(free)];
  }
  held->used = true;
  held->exclusive = exclusive;
  client_keep_text(&held->name, key);
  return nullptr;
}

ClientWord word_of(const char *text)
{
  return ClientWord{text, strlen(text)};
}

} // namespace

// Keys are reserved one after another: when one fails, those before it stay
// reserved, and the reply names the one that failed.
void client_add_key(const ClientRequest &request)
{
  bool exclusive = false;
  int at = 1;
  for (; at < request.count; at++) {
    if (client_option_is(request.words[at], "exclusively"))
      exclusive = true;
    else if (client_option_is(request.words[at], "shared"))
      exclusive = false;
    else
      break;
  }
  if (at == request.count) {
    client_huh(request.client, "Usage: client_add_key [-exclusively|-shared] KEY...");
    return;
  }
  for (; at < request.count; at++) {
    const char *reason = reserve(request.client, request.words[at], exclusive);
    if (reason != nullptr) {
      client_huh_about(request.client, reason, request.words[at]);
      return;
    }
  }
  client_success(request.client);
}

void client_del_key(const ClientRequest &request)
{
  if (request.count < 2) {
    client_huh(request.client, "Usage: client_del_key KEY...");
    return;
  }
  for (int at = 1; at < request.count; at++) {
    KeyReservation *held = reservation(request.client, request.words[at]);
    if (held != nullptr)
      held->used = false;
  }
  client_success(request.client);
}

const char *clients_key_name(int key)
{
  switch (key) {
  case KEY_UP:
    return "Up";
  case KEY_DOWN:
    return "Down";
  case KEY_LEFT:
    return "Left";
  case KEY_RIGHT:
    return "Right";
  default:
    return nullptr;
  }
}

// An exclusive reservation wins wherever its client's screens are; a shared
// one only while its client's screen is in view.
int clients_key_owner(const char *key, int client_in_view)
{
  const ClientWord name = word_of(key);
  for (int client = 0; client < CLIENTS_MAX; client++) {
    if (!client_in_use(client))
      continue;
    const KeyReservation *held = reservation(client, name);
    if (held != nullptr && held->exclusive)
      return client;
  }
  if (client_in_use(client_in_view) && reservation(client_in_view, name) != nullptr)
    return client_in_view;
  return -1;
}
