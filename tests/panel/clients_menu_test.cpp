// The display clients' menus: the menu requests and their exact replies,
// and the walk through a client's menu on the buttons, each press with the
// screen it leaves and the menuevent lines it sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_helpers.h"

namespace {

struct Exchange {
  std::string line;
  std::string reply;
};

// HELD + ms: Up or Down held that long (the key of the step before it).
constexpr int HELD = 1000;

struct Step {
  int key;
  std::string row0;
  std::string row1;
  std::string events{};
  // The column of row 1 under which the cursor shows; -1 for none.
  int cursor = -1;
  int result = CLIENTS_MENU_STAYS;
};

class ClientsMenuTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    clients_reset();
    client = greeted_client();
  }

  // Requests that must all succeed.
  void set_up(const std::vector<std::string> &lines) const
  {
    for (const std::string &line : lines)
      ASSERT_EQ(request(client, line), "success\n") << line;
  }

  void walk(const std::vector<Step> &steps) const
  {
    int held_key = 0;
    for (size_t i = 0; i < steps.size(); i++) {
      const Step &step = steps[i];
      SCOPED_TRACE("step " + std::to_string(i + 1));
      if (step.key >= HELD) {
        clients_menu_held(held_key, step.key - HELD);
      } else {
        held_key = step.key;
        EXPECT_EQ(clients_menu_press(step.key), step.result);
      }
      EXPECT_EQ(sent_to(client), step.events);
      PanelRows rows{};
      int cursor = -1;
      if (step.result != CLIENTS_MENU_STAYS) {
        EXPECT_FALSE(clients_menu_rows(&rows, &cursor));
        continue;
      }
      ASSERT_TRUE(clients_menu_rows(&rows, &cursor));
      EXPECT_EQ(text_of(rows), padded(step.row0) + "|" + padded(step.row1));
      EXPECT_EQ(cursor, step.cursor);
    }
  }

  static std::string padded(const std::string &text)
  {
    return text + std::string(16 - text.size(), ' ');
  }

  int client = -1;
};

TEST_F(ClientsMenuTest, RequestsAnsweredExactly)
{
  const std::vector<Exchange> conversation = {
      {"menu_add_item", "huh? Usage: menu_add_item MENU ITEM TYPE [TEXT] [-OPTION VALUE]...\n"},
      {"menu_add_item {} a widget", "huh? Invalid item type \"widget\"\n"},
      {"menu_add_item nowhere a action", "huh? Unknown menu id \"nowhere\"\n"},
      {"menu_add_item {} {} action", "huh? The main menu's id \"\" is taken\n"},
      {"menu_add_item {} " + std::string(33, 'i') + " action", "huh? Item id too long\n"},
      {"menu_add_item {} a action Go -menu_result quit", "success\n"},
      {"menu_add_item {} a action Again", "huh? Item already exists \"a\"\n"},
      {"menu_add_item a b action", "huh? Not a menu \"a\"\n"},
      {"menu_add_item {} a2 action -text -dash-", "success\n"},
      {"menu_add_item {} c checkbox Beep -value gray -allow_gray true", "success\n"},
      {"menu_add_item {} c2 checkbox Beep value maybe", "huh? Invalid value \"maybe\"\n"},
      {R"(menu_add_item {} r ring Mode -strings "a\tb" -value 1)", "success\n"},
      {"menu_add_item {} r2 ring Mode -value -1", "huh? Invalid value \"-1\"\n"},
      {"menu_add_item {} s slider Vol -mintext - -maxtext + -minvalue -5 -maxvalue 5 -stepsize 2",
       "success\n"},
      {"menu_add_item {} s2 slider Vol -minvalue 5 -maxvalue 1", "huh? Minimum above maximum\n"},
      {"menu_add_item {} s3 slider Vol -stepsize -1", "huh? Invalid value \"-1\"\n"},
      {"menu_add_item {} n numeric Port -value 8080 -maxvalue 65535", "success\n"},
      {"menu_add_item {} n2 numeric Port -stepsize 5", "huh? Unknown option \"-stepsize\"\n"},
      {"menu_add_item {} t alpha Name -value abc -password_char * -minlength 1 -maxlength 8 "
       "-allow_caps false -allow_noncaps true -allow_numbers true -allowed_extra .-",
       "success\n"},
      {"menu_add_item {} t2 alpha Name -maxlength 65", "huh? Invalid value \"65\"\n"},
      {"menu_add_item {} t3 alpha Name -minlength 5 -maxlength 4",
       "huh? Minimum length above maximum length\n"},
      {"menu_add_item {} t4 alpha Name -allow_caps yes", "huh? Invalid value \"yes\"\n"},
      {"menu_add_item {} i ip Address -value 10.0.0.1", "success\n"},
      {"menu_add_item {} i2 ip Address -value 10.0.0.256", "huh? Invalid IPv4 address\n"},
      {"menu_add_item {} i3 ip Address -value ::1 -v6 true", "success\n"},
      {"menu_add_item {} i4 ip Address -v6 true -value 10.0.0.1", "huh? Invalid IPv6 address\n"},
      {"menu_add_item {} i5 ip Address -v6 true -value :::ffff:ffff:ffff:ffff:ffff", "success\n"},
      {"menu_add_item {} m menu More", "success\n"},
      {"menu_add_item m m2 menu Deeper", "success\n"},
      {"menu_add_item m x action X -is_hidden true -next m2 -prev _close_", "success\n"},
      {"menu_add_item m x2 action X -next", "huh? Missing value for option \"-next\"\n"},
      {"menu_add_item m x3 action X -is_hidden", "huh? Missing value for option \"-is_hidden\"\n"},
      {"menu_add_item m x4 action X -colour red", "huh? Unknown option \"-colour\"\n"},
      {"menu_set_item", "huh? Usage: menu_set_item MENU ITEM [-OPTION VALUE]...\n"},
      {"menu_set_item {} nothing -text x", "huh? Unknown menu item \"nothing\"\n"},
      {"menu_set_item {} {} -text x", "huh? Unknown menu item \"\"\n"},
      {"menu_set_item {} c -value off", "success\n"},
      {"menu_set_item ignored c -text Sound", "success\n"},
      {"menu_set_item {} m -parent m2", "huh? Invalid value \"m2\"\n"},
      {"menu_set_item {} m -parent m", "huh? Invalid value \"m\"\n"},
      {"menu_set_item {} m -parent a", "huh? Invalid value \"a\"\n"},
      {"menu_set_item {} m2 -parent {}", "success\n"},
      {"menu_set_item {} n -value 70000", "success\n"},
      {"menu_set_item {} i -v6 true", "success\n"},
      {"menu_goto", "huh? Usage: menu_goto ITEM [PARENT]\n"},
      {"menu_goto nothing", "huh? Unknown menu item \"nothing\"\n"},
      {"menu_goto m2 m", "success\n"},
      {"menu_goto m m2", "huh? Invalid parent \"m2\"\n"},
      {"menu_goto {} m", "huh? Invalid parent \"m\"\n"},
      {"menu_goto c", "success\n"},
      {"menu_set_main", "huh? Usage: menu_set_main MENU\n"},
      {"menu_set_main c", "huh? Not a menu \"c\"\n"},
      {"menu_set_main m", "success\n"},
      {"menu_set_main _main_", "success\n"},
      {"menu_del_item", "huh? Usage: menu_del_item [MENU] ITEM\n"},
      {"menu_del_item {} x", "success\n"},
      {"menu_del_item x", "huh? Unknown menu item \"x\"\n"},
      {"menu_del_item m", "success\n"},
      {"menu_set_item {} m2 -text y", "huh? Unknown menu item \"m2\"\n"},
      {"menu_frobnicate", "huh? Invalid command \"menu_frobnicate\"\n"},
  };
  for (const Exchange &exchange : conversation)
    EXPECT_EQ(request(client, exchange.line), exchange.reply) << exchange.line;
}

// A request with a bad option changes nothing, its good options included.
TEST_F(ClientsMenuTest, RefusedRequestLeavesTheItemAsItWas)
{
  set_up({"menu_add_item {} n numeric Port -value 5"});
  EXPECT_EQ(request(client, "menu_set_item {} n -value 7 -maxvalue x"), "huh? Invalid value \"x\"\n");
  EXPECT_EQ(request(client, "menu_set_item {} n -value 7 -minvalue 9 -maxvalue 8"),
            "huh? Minimum above maximum\n");
  clients_menu_open(client, false);
  walk({{KEY_RIGHT, "Port", "5", "menuevent enter n\n"}});
}

TEST_F(ClientsMenuTest, EveryItemLimitIsKept)
{
  for (int i = 0; i < CLIENTS_MENU_ITEMS; i++)
    set_up({"menu_add_item {} a" + std::to_string(i) + " action"});
  EXPECT_EQ(request(client, "menu_add_item {} one_more action"), "huh? Too many menu items\n");
  set_up({"menu_del_item {} a3", "menu_add_item {} one_more action"});
}

// One walk through every kind of item: Up and Down move and change, Right
// enters, selects, starts and accepts an edit, Left cancels and goes back.
TEST_F(ClientsMenuTest, EveryKindOfItemWalkedByPresses)
{
  set_up({"client_set -name demo", "menu_add_item {} go action Go",
          "menu_add_item {} beep checkbox Beep -value on",
          R"(menu_add_item {} mode ring Mode -strings "Eco\tNormal\tFast" -value 1)",
          "menu_add_item {} vol slider Volume -mintext - -maxtext + -value 50 -stepsize 10",
          "menu_add_item {} port numeric Port -minvalue 1 -maxvalue 65535 -value 8080",
          "menu_add_item {} more menu More", "menu_add_item more name alpha Name -value AB -maxlength 3",
          "menu_add_item more addr ip Address -value 192.168.1.2"});
  clients_menu_open(client, false);
  PanelRows rows{};
  int cursor = 0;
  ASSERT_TRUE(clients_menu_rows(&rows, &cursor));
  EXPECT_EQ(text_of(rows), ">Go             | Beep          Y");
  walk({
      {KEY_RIGHT, ">Go", " Beep          Y", "menuevent select go\n"},
      {KEY_DOWN, ">Beep          Y", " Mode     Normal"},
      {KEY_RIGHT, "Beep", "on", "menuevent enter beep\n"},
      {KEY_UP, "Beep", "off"},
      {KEY_RIGHT, ">Beep          N", " Mode     Normal",
       "menuevent update beep off\nmenuevent leave beep\n"},
      {KEY_DOWN, ">Mode     Normal", " Volume"},
      {KEY_RIGHT, "Mode", "Normal", "menuevent enter mode\n"},
      {KEY_DOWN, "Mode", "Eco"},
      {KEY_LEFT, ">Mode     Normal", " Volume", "menuevent leave mode\n"},
      {KEY_DOWN, ">Volume", " Port"},
      // The slider tells each move; Left puts it back, and tells that too.
      {KEY_RIGHT, "Volume        50", "-#######_______+", "menuevent enter vol\n"},
      {KEY_UP, "Volume        60", "-########______+", "menuevent plus vol 60\n"},
      {HELD + 400, "Volume        60", "-########______+"},
      {HELD + 600, "Volume        80", "-###########___+", "menuevent plus vol 70\nmenuevent plus vol 80\n"},
      {KEY_LEFT, ">Volume", " Port", "menuevent minus vol 50\nmenuevent leave vol\n"},
      {KEY_DOWN, ">Port", " More          >"},
      {KEY_RIGHT, "Port", "8080", "menuevent enter port\n"},
      {KEY_UP, "Port", "8081"},
      {KEY_RIGHT, ">Port", " More          >", "menuevent update port 8081\nmenuevent leave port\n"},
      {KEY_DOWN, ">More          >", ""},
      {KEY_RIGHT, ">Name", " Address", "menuevent enter more\n"},
      // Alpha and ip: one place at a time, the cursor under it.
      {KEY_RIGHT, "Name", "AB", "menuevent leave more\nmenuevent enter name\n", 0},
      {KEY_UP, "Name", "BB", "", 0},
      {KEY_RIGHT, "Name", "BB", "", 1},
      {KEY_RIGHT, "Name", "BB", "", 2},
      {KEY_DOWN, "Name", "BBZ", "", 2},
      {KEY_RIGHT, ">Name", " Address",
       "menuevent update name BBZ\nmenuevent leave name\nmenuevent enter more\n"},
      {KEY_DOWN, ">Address", ""},
      {KEY_RIGHT, "Address", "192.168.001.002", "menuevent leave more\nmenuevent enter addr\n", 0},
      {KEY_DOWN, "Address", "092.168.001.002", "", 0},
      {KEY_RIGHT, "Address", "092.168.001.002", "", 1},
      {KEY_LEFT, "Address", "092.168.001.002", "", 0},
      {KEY_LEFT, ">Address", "", "menuevent leave addr\nmenuevent enter more\n"},
      {KEY_LEFT, ">More          >", "", "menuevent leave more\n"},
      {KEY_LEFT, "", "", "", -1, CLIENTS_MENU_UP},
  });
}

// The protocol's own example of a wizard: -next leads from each item to the
// next, -prev back, a hidden menu asks before leaving, _close_ and _quit_.
TEST_F(ClientsMenuTest, NextAndPrevLeadThroughAWizard)
{
  set_up({"client_set -name Parenttest", R"(menu_add_item "" ask menu "Leave menus?" -is_hidden true)",
          R"(menu_add_item "ask" ask_yes action "Yes" -next _quit_)",
          R"(menu_add_item "ask" ask_no action "No" -next _close_)", R"(menu_add_item "" test menu "Test")",
          R"(menu_add_item "test" test_action action "Action")",
          R"(menu_add_item "test" test_checkbox checkbox "Checkbox")",
          R"(menu_add_item "test" test_ring ring "Ring" -strings "one\ttwo\tthree")",
          R"(menu_set_item "" test -prev "ask")", R"(menu_set_item "" test_action -next "test_checkbox")",
          R"(menu_set_item "" test_checkbox -next "test_ring" -prev "test_action")",
          R"(menu_set_item "" test_ring -next _close_)"});
  clients_menu_open(client, false);
  walk({
      {KEY_RIGHT, ">Action", " Checkbox      N", "menuevent enter test\n"},
      {KEY_RIGHT, "Checkbox", "off",
       "menuevent select test_action\nmenuevent leave test\nmenuevent enter test_checkbox\n"},
      {KEY_LEFT, ">Action", " Checkbox      N", "menuevent leave test_checkbox\nmenuevent enter test\n"},
      {KEY_DOWN, ">Checkbox      N", " Ring        one"},
      {KEY_RIGHT, "Checkbox", "off", "menuevent leave test\nmenuevent enter test_checkbox\n"},
      {KEY_UP, "Checkbox", "on"},
      {KEY_RIGHT, "Ring", "one",
       "menuevent update test_checkbox on\nmenuevent leave test_checkbox\nmenuevent enter test_ring\n"},
      {KEY_UP, "Ring", "two"},
      {KEY_RIGHT, ">Test          >", "", "menuevent update test_ring 1\nmenuevent leave test_ring\n"},
      {KEY_RIGHT, ">Action", " Checkbox      Y", "menuevent enter test\n"},
      {KEY_LEFT, ">Yes", " No", "menuevent leave test\nmenuevent enter ask\n"},
      {KEY_DOWN, ">No", ""},
      {KEY_RIGHT, ">Test          >", "", "menuevent select ask_no\nmenuevent leave ask\n"},
      {KEY_RIGHT, ">Action", " Checkbox      Y", "menuevent enter test\n"},
      {KEY_LEFT, ">Yes", " No", "menuevent leave test\nmenuevent enter ask\n"},
      {KEY_RIGHT, "", "", "menuevent select ask_yes\nmenuevent leave ask\n", -1, CLIENTS_MENU_QUIT},
  });
}

// -menu_result none keeps the list, close goes up a level, and _none_ keeps
// an edit screen open after Right and after Left.
TEST_F(ClientsMenuTest, MenuResultsAndNoneKeepWhereTheyAre)
{
  set_up({"menu_add_item {} sub menu Sub", "menu_add_item sub stay action Stay -menu_result none",
          "menu_add_item sub up action Up -menu_result close",
          "menu_add_item sub n numeric N -next _none_ -prev _none_"});
  clients_menu_open(client, false);
  walk({
      {KEY_RIGHT, ">Stay", " Up", "menuevent enter sub\n"},
      {KEY_RIGHT, ">Stay", " Up", "menuevent select stay\n"},
      {KEY_DOWN, ">Up", " N"},
      {KEY_RIGHT, ">Sub           >", "", "menuevent select up\nmenuevent leave sub\n"},
      {KEY_RIGHT, ">Stay", " Up", "menuevent enter sub\n"},
      {KEY_UP, ">N", ""},
      {KEY_RIGHT, "N", "0", "menuevent leave sub\nmenuevent enter n\n"},
      {KEY_UP, "N", "1"},
      {KEY_RIGHT, "N", "1", "menuevent update n 1\n"},
      {KEY_UP, "N", "2"},
      {KEY_LEFT, "N", "1"},
  });
}

// "enter" lets a client send a fresh value before the user touches it;
// once the user has changed it, the client's value waits for the next edit.
TEST_F(ClientsMenuTest, EditShowsTheClientsValueUntilTheUserChangesIt)
{
  set_up({"menu_add_item {} n numeric N -value 1", "menu_add_item {} s slider S -stepsize 0"});
  clients_menu_open(client, false);
  walk({{KEY_RIGHT, "N", "1", "menuevent enter n\n"}});
  set_up({"menu_set_item {} n -value 5"});
  walk({{KEY_UP, "N", "6"}});
  set_up({"menu_set_item {} n -value 9"});
  walk({
      {KEY_RIGHT, ">N", " S", "menuevent update n 6\nmenuevent leave n\n"},
      // A step of 0 leaves the moves to the client: each press is told.
      {KEY_DOWN, ">S", ""},
      {KEY_RIGHT, "S              0", "________________", "menuevent enter s\n"},
      {KEY_UP, "S              0", "________________", "menuevent plus s 0\n"},
  });
  set_up({"menu_set_item {} s -value 40"});
  walk({{KEY_UP, "S             40", "######__________", "menuevent plus s 40\n"},
        {KEY_RIGHT, ">S", "", "menuevent leave s\n"}});
}

TEST_F(ClientsMenuTest, ItemsThatGoOrHideGiveWayWhileWalked)
{
  set_up({"menu_add_item {} a action A", "menu_add_item {} b action B", "menu_add_item {} m menu M",
          "menu_add_item m c checkbox C", "menu_add_item {} d action D"});
  clients_menu_open(client, false);
  walk({{KEY_DOWN, ">B", " M             >"}});
  set_up({"menu_set_item {} b -is_hidden true"});
  walk({{KEY_DOWN, ">M             >", " D"},
        {KEY_RIGHT, ">C             N", "", "menuevent enter m\n"},
        {KEY_RIGHT, "C", "off", "menuevent leave m\nmenuevent enter c\n"}});
  set_up({"menu_del_item {} c"});
  walk({{KEY_UP, "M", "(empty)"}});
  set_up({"menu_del_item {} m"});
  walk({{KEY_UP, ">D", ""}});
  // Hidden items keep the client's menu, with nothing to list.
  set_up({"menu_del_item {} a", "menu_del_item {} d", "client_set -name demo"});
  walk({{KEY_UP, "demo", "(empty)"}});
  int list[CLIENTS_MAX];
  EXPECT_EQ(clients_menu_clients(list, CLIENTS_MAX), 1);
  set_up({"menu_del_item {} b"});
  EXPECT_FALSE(clients_menu_walking());
  EXPECT_EQ(clients_menu_press(KEY_UP), CLIENTS_MENU_UP);
  EXPECT_EQ(clients_menu_clients(list, CLIENTS_MAX), 0);
}

// menu_goto moves a user who is in the client's menu at once; otherwise the
// menu opens there next time. menu_set_main makes a menu the way in, and
// Left from it leaves.
TEST_F(ClientsMenuTest, GotoAndTheWayIn)
{
  set_up({"menu_add_item {} a action A", "menu_add_item {} m menu M", "menu_add_item m n numeric N"});
  clients_menu_open(client, false);
  EXPECT_EQ(request(client, "menu_goto n"), "success\nmenuevent enter n\n");
  walk({{KEY_UP, "N", "1"}, {KEY_LEFT, ">N", "", "menuevent leave n\nmenuevent enter m\n"}});
  clients_menu_close();
  EXPECT_EQ(sent_to(client), "menuevent leave m\n");
  set_up({"menu_goto m"});
  clients_menu_open(client, false);
  EXPECT_EQ(sent_to(client), "menuevent enter m\n");
  walk({{KEY_LEFT, ">M             >", "", "menuevent leave m\n"}});
  int entry = -1;
  EXPECT_FALSE(clients_menu_entry(&entry));
  set_up({"menu_set_main m"});
  ASSERT_TRUE(clients_menu_entry(&entry));
  EXPECT_EQ(entry, client);
  clients_menu_open(client, true);
  EXPECT_EQ(sent_to(client), "menuevent enter m\n");
  walk({{KEY_LEFT, "", "", "menuevent leave m\n", -1, CLIENTS_MENU_UP}});
  clients_menu_reset_entry();
  EXPECT_FALSE(clients_menu_entry(&entry));
  set_up({"menu_set_main {}"});
  EXPECT_TRUE(clients_menu_entry(&entry));
  clients_remove(client);
  EXPECT_FALSE(clients_menu_entry(&entry));
}

TEST_F(ClientsMenuTest, AlphaTakesItsCharactersAndLengths)
{
  set_up(
      {"menu_add_item {} p alpha Pin -value 9a -password_char * -minlength 3 -maxlength 20 -allow_caps false "
       "-allow_noncaps true -allow_numbers true -allowed_extra {a!}"});
  clients_menu_open(client, false);
  walk({
      {KEY_RIGHT, "Pin", "9*", "menuevent enter p\n", 0},
      {KEY_UP, "Pin", "!*", "", 0},
      // No character: the value would end here, but what follows stays
      // until then.
      {KEY_UP, "Pin", " *", "", 0},
      {KEY_UP, "Pin", "a*", "", 0},
      {KEY_RIGHT, "Pin", "*a", "", 1},
      {KEY_RIGHT, "Pin", "** ", "", 2},
      // Too short to end here.
      {KEY_RIGHT, "Pin", "** ", "", 2},
  });
  // Past the glass's width the value moves left under the cursor.
  for (int place = 2; place < 19; place++) {
    EXPECT_EQ(clients_menu_press(KEY_UP), CLIENTS_MENU_STAYS);
    EXPECT_EQ(clients_menu_press(KEY_RIGHT), CLIENTS_MENU_STAYS);
  }
  walk({{KEY_UP, "Pin", "***************a", "", 15}});
}

TEST_F(ClientsMenuTest, AddressesEditDigitByDigit)
{
  set_up({"menu_add_item {} v4 ip V4 -value 250.199.9.0",
          "menu_add_item {} v6 ip V6 -v6 true -value 2001:db8::1",
          "menu_add_item {} g checkbox G -allow_gray true"});
  clients_menu_open(client, false);
  // Up skips the digits that would take a number past 255.
  walk({{KEY_RIGHT, "V4", "250.199.009.000", "menuevent enter v4\n", 0},
        {KEY_UP, "V4", "050.199.009.000", "", 0},
        {KEY_DOWN, "V4", "250.199.009.000", "", 0},
        {KEY_RIGHT, "V4", "250.199.009.000", "", 1},
        {KEY_UP, "V4", "200.199.009.000", "", 1},
        {KEY_RIGHT, "V4", "200.199.009.000", "", 2}});
  for (int digit = 2; digit < 11; digit++)
    EXPECT_EQ(clients_menu_press(KEY_RIGHT), CLIENTS_MENU_STAYS);
  walk({{KEY_DOWN, "V4", "200.199.009.009", "", 14},
        {KEY_RIGHT, ">V4", " V6", "menuevent update v4 200.199.9.9\nmenuevent leave v4\n"},
        {KEY_DOWN, ">V6", " G             N"},
        {KEY_RIGHT, "V6", "2001:0db8:0000:0", "menuevent enter v6\n", 0}});
  for (int digit = 0; digit < 31; digit++)
    EXPECT_EQ(clients_menu_press(KEY_RIGHT), CLIENTS_MENU_STAYS);
  walk({{KEY_UP, "V6", "0:0000:0000:0002", "", 15},
        {KEY_RIGHT, ">V6", " G             N", "menuevent update v6 2001:db8::2\nmenuevent leave v6\n"},
        {KEY_DOWN, ">G             N", ""},
        {KEY_RIGHT, "G", "off", "menuevent enter g\n"},
        {KEY_DOWN, "G", "gray"},
        {KEY_DOWN, "G", "on"},
        {KEY_RIGHT, ">G             Y", "", "menuevent update g on\nmenuevent leave g\n"}});
}

// A held Up repeats after half a second, ten steps a second, a few at most
// for a pass that came late; a number's steps grow to 10 after two seconds
// of repeats.
TEST_F(ClientsMenuTest, HeldButtonRepeatsOnANumber)
{
  set_up({"menu_add_item {} n numeric N -maxvalue 1000"});
  clients_menu_open(client, false);
  walk({{KEY_RIGHT, "N", "0", "menuevent enter n\n"},
        {KEY_UP, "N", "1"},
        {HELD + 499, "N", "1"},
        {HELD + 500, "N", "2"},
        {HELD + 2400, "N", "10"},
        {HELD + 2499, "N", "10"},
        {HELD + 3000, "N", "70"},
        {HELD + 0, "N", "70"},
        {HELD + 600, "N", "72"},
        {KEY_RIGHT, ">N", "", "menuevent update n 72\nmenuevent leave n\n"}});
}

} // namespace
