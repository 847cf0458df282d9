// The client protocol: request lines and the exact replies, the words of a
// line, and what the store keeps of the clients' screens and keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_helpers.h"

namespace {

constexpr const char *CONNECT = "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\n";

struct Exchange {
  std::string line;
  std::string reply;
};

class ClientsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    clients_reset();
  }
};

// One conversation: each line is sent in turn and answered exactly so.
TEST_F(ClientsTest, ConversationAnsweredLineByLine)
{
  const std::vector<Exchange> conversation = {
      {"screen_add s", "huh? Say hello first\n"},
      {"", ""},
      {" \t ", ""},
      {"hello", CONNECT},
      {"client_set -name Test", "success\n"},
      {"client_set name {My client}", "success\n"},
      {"client_set -colour red", "huh? Usage: client_set -name NAME\n"},
      {"screen_add s", "success\n"},
      {"screen_add s", "huh? Screen already exists \"s\"\n"},
      {"screen_add", "huh? Usage: screen_add SCREEN\n"},
      {"screen_set s", "success\n"},
      {"screen_set s -name {One} -priority foreground -duration 16", "success\nsuccess\nsuccess\n"},
      {"screen_set s wid 20 hgt 4 heartbeat off backlight on cursor off cursor_x 1 cursor_y 2 timeout 80",
       "success\nsuccess\nsuccess\nsuccess\nsuccess\nsuccess\nsuccess\nsuccess\n"},
      {"screen_set s -priority urgent -duration 8", "huh? Invalid value \"urgent\"\nsuccess\n"},
      {"screen_set s -cursor block -cursor square -backlight toggle -backlight dim",
       "success\nhuh? Invalid value \"square\"\nsuccess\nhuh? Invalid value \"dim\"\n"},
      {"screen_set s -bogus 1 -name x", "huh? Unknown option \"-bogus\"\n"},
      {"screen_set s -duration 8 -name", "success\nhuh? Missing value for option \"-name\"\n"},
      {"screen_set t -name x", "huh? Unknown screen id \"t\"\n"},
      {"widget_add s w string", "success\n"},
      {"widget_add s w title", "huh? Widget already exists \"w\"\n"},
      {"widget_add s g gauge", "huh? Invalid widget type \"gauge\"\n"},
      {"widget_add s f frame", "success\n"},
      {"widget_add s in string -in f", "success\n"},
      {"widget_add s in2 string in w", "huh? Unknown frame id \"w\"\n"},
      {"widget_add t w string", "huh? Unknown screen id \"t\"\n"},
      {R"(widget_set s w 1 1 "Hello \"you\"")", "success\n"},
      {"widget_set s w 1 1 Hello you", "huh? Usage: widget_set SCREEN WIDGET X Y TEXT\n"},
      {"widget_set s w one 1 Hi", "huh? Invalid coordinates\n"},
      {"widget_set s w 1 1 \"open", "huh? Could not parse command\n"},
      {"widget_set s nope 1 1 Hi", "huh? Unknown widget id \"nope\"\n"},
      {"widget_set s f 1 1 16 2 16 4 d 1", "huh? Invalid direction\n"},
      {"widget_set s f 1 1 16 2 0 4 v 1", "huh? Invalid frame size\n"},
      {"widget_set s f 1 1 16 2 16 4 v 8", "success\n"},
      {"widget_add s i icon", "success\n"},
      {"widget_set s i 1 1 SNOWMAN", "huh? Invalid icon name\n"},
      {"widget_set s i 1 1 heart_filled", "success\n"},
      {"widget_add s n num", "success\n"},
      {"widget_set s n 1 11", "huh? Invalid digit\n"},
      {"widget_add s b hbar", "success\n"},
      {"widget_set s b 1 2 x", "huh? Invalid length\n"},
      {"widget_add s r scroller", "success\n"},
      {"widget_set s r 1 2 16 2 m fast news", "huh? Invalid speed\n"},
      {"widget_del s f", "success\n"},
      {"widget_set s in 1 1 gone", "huh? Unknown widget id \"in\"\n"},
      {"widget_del s w", "success\n"},
      {"widget_del s w", "huh? Unknown widget id \"w\"\n"},
      {"client_add_key Up", "success\n"},
      {"client_add_key -exclusively Left Right", "success\n"},
      {"client_add_key shared", "huh? Usage: client_add_key [-exclusively|-shared] KEY...\n"},
      {"client_del_key Up Enter", "success\n"},
      {"backlight on", "success\n"},
      {"backlight open", "success\n"},
      {"backlight on off", "huh? Usage: backlight on|off|toggle|blink|flash\n"},
      {"backlight purple", "huh? Usage: backlight on|off|toggle|blink|flash\n"},
      {"output 3", "success\n"},
      {"output off", "success\n"},
      {"info", "lcm-panel: 16x2 character module, no custom characters\n"},
      {"noop", "noop complete\n"},
      {"sleep 1", "success\n"},
      {"sleep", "huh? Usage: sleep SECONDS\n"},
      {"menu_frobnicate x", "huh? Invalid command \"menu_frobnicate\"\n"},
      {"frobnicate now", "huh? Invalid command \"frobnicate\"\n"},
      {"screen\xfe\x01", "huh? Invalid command \"screent?\"\n"},
      {"\xc3\xa9"
       "cran",
       "huh? Invalid command \"ecran\"\n"},
      {"screen_del s", "success\n"},
      {"screen_del s", "huh? Unknown screen id \"s\"\n"},
  };
  const int client = clients_open();
  for (const Exchange &exchange : conversation)
    EXPECT_EQ(request(client, exchange.line), exchange.reply) << exchange.line;
}

TEST_F(ClientsTest, WordsUnquotedAndUnescapedInPlace)
{
  struct Case {
    std::string line;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"  a  b\t", {"a", "b"}},
      {"say \"two words\" {in braces}", {"say", "two words", "in braces"}},
      {"\"\" {}", {"", ""}},
      {R"(a\ b "q\"q" {c\}d} tab\tnew\n cr\r)", {"a b", "q\"q", "c}d", "tab\tnew\n", "cr\r"}},
      {"\"glued\"on {x}y", {"gluedon", "xy"}},
      {"mid\"dle x{y", {"mid\"dle", "x{y"}},
  };
  for (const Case &c : cases) {
    std::string line = c.line;
    ClientWords words;
    const int count = clients_split(line.data(), line.size(), &words);
    std::vector<std::string> got;
    for (int i = 0; i < count; i++)
      got.emplace_back(words[static_cast<std::size_t>(i)].text, words[static_cast<std::size_t>(i)].length);
    EXPECT_EQ(got, c.words) << c.line;
  }
  for (std::string open : {"\"never closed", "{never closed", "a \"b"}) {
    ClientWords words;
    EXPECT_EQ(clients_split(open.data(), open.size(), &words), -1) << open;
  }
}

TEST_F(ClientsTest, LimitsOfScreensWidgetsIdsAndWords)
{
  const int client = greeted_client();
  for (int i = 0; i < CLIENTS_SCREENS; i++)
    ASSERT_EQ(request(client, "screen_add s" + std::to_string(i)), "success\n");
  EXPECT_EQ(request(client, "screen_add one_more"), "huh? Too many screens\n");
  for (int i = 0; i < CLIENTS_WIDGETS; i++)
    ASSERT_EQ(request(client, "widget_add s" + std::to_string(i % 2) + " w" + std::to_string(i) + " string"),
              "success\n");
  EXPECT_EQ(request(client, "widget_add s3 w string"), "huh? Too many widgets\n");
  EXPECT_EQ(request(client, "screen_del s0"), "success\n");
  EXPECT_EQ(request(client, "widget_add s3 w string"), "success\n");

  EXPECT_EQ(request(client, "screen_del s3"), "success\n");
  EXPECT_EQ(request(client, "screen_add " + std::string(CLIENTS_ID_MAX, 'i')), "success\n");
  EXPECT_EQ(request(client, "screen_del " + std::string(CLIENTS_ID_MAX, 'i')), "success\n");
  EXPECT_EQ(request(client, "screen_add " + std::string(CLIENTS_ID_MAX + 1, 'i')),
            "huh? Screen id too long\n");
  std::string many = "client_del_key";
  for (int i = 1; i < CLIENTS_WORDS_MAX; i++)
    many += " k";
  EXPECT_EQ(request(client, many), "success\n");
  EXPECT_EQ(request(client, many + " k"), "huh? Too many arguments\n");
}

TEST_F(ClientsTest, AnOutboxThatIsNotEmptiedOverflowsAndSaysSo)
{
  const int client = greeted_client();
  std::string noop = "noop";
  while (!clients_outbox_overflowed(client))
    (void)clients_execute(client, noop.data(), noop.size(), 0);
  std::size_t length = 0;
  (void)clients_outbox(client, &length);
  EXPECT_LE(length, CLIENTS_OUTBOX);
  EXPECT_GT(length, CLIENTS_OUTBOX - 32);
}

// Screens in the order they were added, whoever added them; a slot reused
// is a different screen.
TEST_F(ClientsTest, ScreensInOrderOfAddingWithHandlesThatGoStale)
{
  const int first = greeted_client();
  const int second = greeted_client();
  (void)request(first, "screen_add a");
  (void)request(second, "screen_add b");
  (void)request(first, "screen_add c");
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 3);
  EXPECT_STREQ(clients_screen_id(handles[0]), "a");
  EXPECT_STREQ(clients_screen_id(handles[1]), "b");
  EXPECT_STREQ(clients_screen_id(handles[2]), "c");
  EXPECT_EQ(handles[1].client, second);

  const ScreenHandle a = handles[0];
  (void)request(first, "screen_del a");
  (void)request(first, "screen_add a");
  EXPECT_FALSE(clients_valid(a));
  EXPECT_EQ(clients_priority(a), SCREEN_HIDDEN);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 3);
  EXPECT_STREQ(clients_screen_id(handles[2]), "a");

  clients_remove(first);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 1);
  EXPECT_STREQ(clients_screen_id(handles[0]), "b");
}

TEST_F(ClientsTest, PriorityNamesAndNumbers)
{
  const int client = greeted_client();
  (void)request(client, "screen_add s");
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 1);
  EXPECT_EQ(clients_priority(handles[0]), SCREEN_INFO);
  const std::vector<std::pair<std::string, int>> cases = {
      {"hidden", SCREEN_HIDDEN},  {"background", SCREEN_BACKGROUND},
      {"info", SCREEN_INFO},      {"foreground", SCREEN_FOREGROUND},
      {"alert", SCREEN_ALERT},    {"input", SCREEN_INPUT},
      {"1", SCREEN_FOREGROUND},   {"64", SCREEN_FOREGROUND},
      {"65", SCREEN_INFO},        {"192", SCREEN_INFO},
      {"193", SCREEN_BACKGROUND},
  };
  for (const auto &[value, priority] : cases) {
    ASSERT_EQ(request(client, "screen_set s -priority " + value), "success\n") << value;
    EXPECT_EQ(clients_priority(handles[0]), priority) << value;
  }
  EXPECT_EQ(request(client, "screen_set s -priority 0"), "huh? Invalid value \"0\"\n");
}

// The newest to become urgent comes first; saying alert again does not
// make a screen newer, and a dismissed alert stays away until it is made
// another class (then it shows as that) or an alert anew.
TEST_F(ClientsTest, UrgentScreensNewestFirstAndDismissal)
{
  const int first = greeted_client();
  const int second = greeted_client();
  for (const char *id : {"a", "b"}) {
    (void)request(first, std::string("screen_add ") + id);
    (void)request(second, std::string("screen_add ") + id);
  }
  (void)request(first, "screen_set a -priority alert");
  (void)request(second, "screen_set b -priority input");
  (void)request(first, "screen_set b -priority foreground");
  (void)request(first, "screen_set a -priority alert");
  std::vector<ScreenHandle> urgent(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_urgent(urgent.data(), CLIENTS_ALL_SCREENS), 2);
  EXPECT_EQ(urgent[0].client, second);
  EXPECT_EQ(urgent[1].client, first);

  clients_dismiss(urgent[1]);
  EXPECT_EQ(clients_priority(urgent[1]), SCREEN_HIDDEN);
  (void)request(first, "screen_set a -priority alert");
  ASSERT_EQ(clients_urgent(urgent.data(), CLIENTS_ALL_SCREENS), 1);
  (void)request(first, "screen_set a -priority info");
  EXPECT_EQ(clients_priority(urgent[1]), SCREEN_INFO);
  (void)request(first, "screen_set a -priority alert");
  ASSERT_EQ(clients_urgent(urgent.data(), CLIENTS_ALL_SCREENS), 2);
  EXPECT_EQ(urgent[0].client, first);
  EXPECT_EQ(clients_priority(urgent[0]), SCREEN_ALERT);
}

// Eighths of a second, counted only while in view; setting it again starts anew.
TEST_F(ClientsTest, TimeoutCountedInViewThenTheScreenGoes)
{
  const int client = greeted_client();
  (void)request(client, "screen_add s");
  (void)request(client, "screen_add t");
  (void)request(client, "screen_set s -timeout 8 -duration 24");
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 2);
  const ScreenHandle s = handles[0];
  EXPECT_EQ(clients_duration_ms(s), 3000);
  EXPECT_EQ(clients_duration_ms(handles[1]), 0);
  EXPECT_EQ(clients_timeout_left_ms(handles[1]), -1);
  EXPECT_EQ(clients_timeout_left_ms(s), 1000);
  EXPECT_EQ(clients_count_view(s, 600), 0);
  EXPECT_EQ(clients_timeout_left_ms(s), 400);
  (void)request(client, "screen_set s -timeout 8");
  EXPECT_EQ(clients_timeout_left_ms(s), 1000);
  EXPECT_EQ(clients_count_view(s, 999), 0);
  EXPECT_EQ(clients_count_view(s, 1), 1);
  EXPECT_FALSE(clients_valid(s));
  EXPECT_EQ(request(client, "screen_del s"), "huh? Unknown screen id \"s\"\n");
}

// An exclusive reservation shuts everyone else out and goes to its client
// wherever the view is; a shared one only while its client is in view.
TEST_F(ClientsTest, KeyReservationsAndWhereKeysGo)
{
  const int first = greeted_client();
  const int second = greeted_client();
  EXPECT_EQ(request(first, "client_add_key -exclusively Up"), "success\n");
  EXPECT_EQ(request(second, "client_add_key Up"), "huh? Could not reserve key \"Up\"\n");
  EXPECT_EQ(request(second, "client_add_key Down"), "success\n");
  EXPECT_EQ(request(first, "client_add_key -shared Down"), "success\n");
  EXPECT_EQ(request(first, "client_add_key -exclusively Down"), "huh? Could not reserve key \"Down\"\n");
  EXPECT_EQ(request(first, "client_add_key " + std::string(CLIENTS_KEY_NAME_MAX + 1, 'K')),
            "huh? Key name too long \"" + std::string(CLIENTS_KEY_NAME_MAX + 1, 'K') + "\"\n");

  EXPECT_EQ(clients_key_owner("Up", second), first);
  EXPECT_EQ(clients_key_owner("Up", -1), first);
  EXPECT_EQ(clients_key_owner("Down", second), second);
  EXPECT_EQ(clients_key_owner("Down", first), first);
  EXPECT_EQ(clients_key_owner("Down", -1), -1);
  EXPECT_EQ(clients_key_owner("Left", first), -1);
  EXPECT_STREQ(clients_key_name(KEY_LEFT), "Left");
  EXPECT_EQ(clients_key_name(0x0F), nullptr);

  clients_send_key(first, "Up");
  EXPECT_EQ(sent_to(first), "key Up\n");
  clients_remove(first);
  EXPECT_EQ(clients_key_owner("Up", -1), -1);
  EXPECT_EQ(request(second, "client_add_key -exclusively Up"), "success\n");
}

// lcm-show's rows: no reply until the panel answers; a later hand-over
// replaces an earlier one, whose client is told.
TEST_F(ClientsTest, HandOverAnsweredLaterAndReplaced)
{
  const int first = greeted_client();
  const int second = greeted_client();
  EXPECT_EQ(request(first, "lcm_show {Updating} {45%\xfe\x01 and then some}"), "");
  EXPECT_TRUE(clients_hand_over_waiting());
  std::vector<ScreenHandle> urgent(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_urgent(urgent.data(), CLIENTS_ALL_SCREENS), 1);
  EXPECT_EQ(urgent[0].client, CLIENTS_PANEL);
  EXPECT_EQ(clients_priority(urgent[0]), SCREEN_ALERT);

  EXPECT_EQ(request(first, "lcm_show again {}"), "huh? Replaced by a later lcm_show\n");
  EXPECT_EQ(request(second, "lcm_show {} Done"), "");
  EXPECT_EQ(sent_to(first), "huh? Replaced by a later lcm_show\n");
  ASSERT_EQ(clients_urgent(urgent.data(), CLIENTS_ALL_SCREENS), 1);
  PanelRows rows{};
  ASSERT_EQ(clients_render(urgent[0], 0, &rows), 0);
  EXPECT_EQ(text_of(rows), "                |Done            ");
  clients_hand_over_answer("success");
  EXPECT_EQ(sent_to(second), "success\n");
  EXPECT_FALSE(clients_hand_over_waiting());
  EXPECT_EQ(request(first, "lcm_show one"), "huh? Usage: lcm_show LINE1 LINE2\n");
}

TEST_F(ClientsTest, AWaitingClientThatLeftIsNotAnsweredInItsSlotsNextConnection)
{
  const int first = greeted_client();
  (void)request(first, "lcm_show a b");
  clients_remove(first);
  const int next = clients_open();
  ASSERT_EQ(next, first);
  EXPECT_FALSE(clients_hand_over_waiting());
  clients_hand_over_answer("success");
  EXPECT_EQ(sent_to(next), "");
}

} // namespace
