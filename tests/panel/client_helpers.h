// Talking to the client store as a connection would: a request line in, the
// bytes queued for the client out.
#ifndef LCM_TESTS_PANEL_CLIENT_HELPERS_H
#define LCM_TESTS_PANEL_CLIENT_HELPERS_H

#include <string>
#include <vector>

#include "clients.h"

// What the client was sent since it was last asked.
inline std::string sent_to(int client)
{
  std::size_t length = 0;
  const char *bytes = clients_outbox(client, &length);
  std::string sent(bytes, length);
  clients_outbox_sent(client, length);
  return sent;
}

inline std::string request(int client, std::string line, long long now_ms = 0)
{
  (void)clients_execute(client, line.data(), line.size(), now_ms);
  return sent_to(client);
}

// A client that has said hello, with its greeting taken.
inline int greeted_client()
{
  const int client = clients_open();
  (void)request(client, "hello");
  return client;
}

inline std::string text_of(const PanelRows &rows)
{
  return std::string(rows[0].begin(), rows[0].end()) + "|" + std::string(rows[1].begin(), rows[1].end());
}

#endif
