// A program that takes the panel's socket path before any panel does and
// answers like one, without holding the port: socket_squatter SOCKET RECORD.
// It listens on SOCKET, then creates RECORD, to which it appends every byte
// a client sends; each client gets a panel's answers once its three request
// lines are in. It runs until it is killed.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const std::string ANSWER =
    "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\nsuccess\nsuccess\n";

void serve(int client, int record)
{
  int lines = 0;
  bool answered = false;
  char buffer[256];
  for (ssize_t count = read(client, buffer, sizeof buffer); count > 0;
       count = read(client, buffer, sizeof buffer)) {
    if (write(record, buffer, static_cast<size_t>(count)) != count)
      return;
    for (ssize_t i = 0; i < count; i++)
      lines += buffer[i] == '\n' ? 1 : 0;
    if (!answered && lines >= 3) {
      answered = true;
      if (write(client, ANSWER.data(), ANSWER.size()) < 0)
        return;
    }
  }
}

} // namespace

int main(int argc, char **argv)
{
  if (argc != 3 || strlen(argv[1]) >= sizeof(sockaddr_un::sun_path))
    return 2;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, argv[1], strlen(argv[1]) + 1);
  const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listening < 0 || bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0 ||
      listen(listening, 8) < 0) {
    perror(argv[1]);
    return 1;
  }
  const int record = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (record < 0) {
    perror(argv[2]);
    return 1;
  }
  for (;;) {
    const int client = accept(listening, nullptr, nullptr);
    if (client < 0)
      continue;
    serve(client, record);
    close(client);
  }
}
