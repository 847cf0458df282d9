// The panel's loop with its server thread, against the stand-in serial
// link: display clients are answered while the loop sits in the driver's
// wait for a reply, and the listen addresses it warns of.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "fake_port.h"
#include "panel_client.h"
#include "panel_internal.h"

namespace {

constexpr unsigned char BUTTON_QUERY = 0x0B;
constexpr int NONE_HELD = 0x0F;

std::atomic<bool> holding{false};
std::atomic<bool> released{false};

// The first button query gets its reply only once the test lets it go: till
// then the loop stays inside the driver's wait, far past its usual second.
int held_reply(unsigned char code)
{
  if (code != BUTTON_QUERY || holding.exchange(true))
    return code == BUTTON_QUERY ? NONE_HELD : -1;
  const auto bound = std::chrono::steady_clock::now() + 2 * SESSION_PATIENCE;
  while (!released && std::chrono::steady_clock::now() < bound)
    usleep(1000);
  return NONE_HELD;
}

// The stop comes as the signal does, on the loop's own thread.
void on_stop(int signal_number)
{
  panel_stop = signal_number;
}

bool wait_for(const std::atomic<bool> &flag)
{
  const auto bound = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (!flag && std::chrono::steady_clock::now() < bound)
    usleep(1000);
  return flag;
}

in_port_t unused_port()
{
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof any;
  EXPECT_EQ(bind(probe, reinterpret_cast<const sockaddr *>(&any), sizeof any), 0);
  EXPECT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&any), &length), 0);
  close(probe);
  return ntohs(any.sin_port);
}

class PanelServeTest : public ::testing::Test {
protected:
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  const std::string device = scratch.file("ttyS1");

  void SetUp() override
  {
    signal(SIGPIPE, SIG_IGN);
    setenv("LCM_DEVICE", device.c_str(), 1);
    fake_reset();
  }
};

TEST_F(PanelServeTest, ClientsAreAnsweredWhileTheLoopWaitsForTheModulesReply)
{
  fake_set_responder(held_reply);
  struct sigaction stop {};
  stop.sa_handler = on_stop;
  ASSERT_EQ(sigaction(SIGUSR1, &stop, nullptr), 0);
  PanelOptions options;
  service_begin(&options, options);
  panel_stop = 0;
  int status = -1;
  std::thread loop([&] { status = panel_run(options); });
  ASSERT_TRUE(wait_for(holding));

  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client, {"hello", "client_set -name waiting", "screen_add s", "noop"});
  EXPECT_TRUE(client_expect(&client, "noop complete")) << client.seen;
  EXPECT_FALSE(released);
  EXPECT_EQ(client.seen, CONNECT + "success\nsuccess\nnoop complete\n");

  released = true;
  pthread_kill(loop.native_handle(), SIGUSR1);
  loop.join();
  EXPECT_EQ(status, 0);
  fake_set_responder(nullptr);
}

// Any address but loopback, the wildcard included, lets every host that
// reaches it draw and take the keys.
TEST_F(PanelServeTest, AListenAddressOffLoopbackIsWarnedOfOnce)
{
  const std::string loopback = "127.0.0.1:" + std::to_string(unused_port());
  const std::string wildcard = "0.0.0.0:" + std::to_string(unused_port());
  PanelOptions options;
  options.listen_count = 2;
  options.listen = {loopback.c_str(), wildcard.c_str()};
  testing::internal::CaptureStderr();
  ASSERT_EQ(sharing_start(options), 0);
  sharing_stop();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "lcm-panel: " + wildcard +
                ": not a loopback address: every host that reaches it may draw on the display and take its "
                "keys\n");
}

} // namespace
