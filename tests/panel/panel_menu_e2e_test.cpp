// The action menu of lcm-panel run for real through lcm-emu, walked with
// scheduled presses: the exact screens on the wire and the lines on
// standard error.
#include "panel_session.h"

namespace {

const std::string QUESTION = "<No         Yes>";

TEST(PanelE2e, ActionMenuOpensMovesConfirmsAndShowsTheResult)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path,
         presses({"down", "up", "right", "down", "up", "right", "right", "wait", "left", "right", "down",
                  "right", "right", "wait", "left"}),
         {"--every", "60", "--action", "Hello", "sleep 0.3; echo first line; echo more", "--action", "Fail",
          "sleep 0.2; echo bad; exit 3", "echo Page0", "echo Page1"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 3; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  // Up and Down still page; Right opens the menu.
  Glass g;
  EXPECT_EQ(drawn(run), PANEL_START + g.show({{"Page0", ""},
                                              {"Page1", ""},
                                              {"Page0", ""},
                                              {">Hello", " Fail"},
                                              {">Fail", ""},
                                              {">Hello", " Fail"},
                                              {"Hello?", QUESTION},
                                              {"Hello", "running..."},
                                              {"Hello         ok", "first line"},
                                              {"Page0", ""},
                                              {">Hello", " Fail"},
                                              {">Fail", ""},
                                              {"Fail?", QUESTION},
                                              {"Fail", "running..."},
                                              {"Fail    failed 3", "bad"},
                                              {"Page0", ""}}));
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: action \"Hello\": ok: first line\n"
                                  "lcm-panel: action \"Fail\": failed 3: bad\n");
}

// A button held when the question appears does not answer it; Left and 10 s
// without a press cancel it.
TEST(PanelE2e, ActionQuestionIsCancelledByLeftAndByWaitingAndNotAnsweredByAHeldButton)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string ran = scratch.path + "/ran";
  Session run;
  launch(&run, scratch.path,
         {"--press", "right@600+200", "--press", "right@1100+200", "--press", "left@1600+200", "--press",
          "right@2100+3000", "--press", "left@13500+200"},
         {"--every", "60", "--action", "Mark", "touch " + ran, "echo Page"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 2; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass g;
  EXPECT_EQ(drawn(run), PANEL_START + g.show({{"Page", ""},
                                              {">Mark", ""},
                                              {"Mark?", QUESTION},
                                              {">Mark", ""},
                                              {"Mark?", QUESTION},
                                              {">Mark", ""},
                                              {"Page", ""}}));
  EXPECT_FALSE(std::filesystem::exists(ran));
  const std::vector<long> questions = times_of(run.err, "text '?' at row 0 column 4");
  const std::vector<long> lists = times_of(run.err, "text '>' at row 0");
  ASSERT_EQ(questions.size(), 2U);
  ASSERT_EQ(lists.size(), 3U);
  EXPECT_GE(lists[2] - questions[1], 9900);
  EXPECT_EQ(panel_lines(run.err), "");
}

TEST(PanelE2e, ActionKilledAtItsTimeoutAndAnotherIsBusyMeanwhile)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string pid = scratch.path + "/pid";
  Session run;
  launch(&run, scratch.path, presses({"right", "right", "right", "left", "right", "down", "right"}),
         {"--every", "60", "--action-timeout", "6", "--action", "Slow",
          "echo $$ > " + pid + "; exec sleep 1000", "--action", "Other", "echo other", "echo Page"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 't' at row 0") >= 1; }))
      << trace_tail(run.err);
  EXPECT_TRUE(process_gone(run, read_file(pid)));
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass g;
  EXPECT_EQ(drawn(run), PANEL_START + g.show({{"Page", ""},
                                              {">Slow", " Other"},
                                              {"Slow?", QUESTION},
                                              {"Slow", "running..."},
                                              {"Page", ""},
                                              {">Slow", " Other"},
                                              {">Other", ""},
                                              {"Other       busy", "Slow     running"},
                                              {">Other", ""},
                                              {"Slow   timed out", ""}}));
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: action \"Slow\": timed out\n");
}

} // namespace
