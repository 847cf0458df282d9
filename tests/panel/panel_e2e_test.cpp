// lcm-panel run for real through lcm-emu: pages paged by scheduled presses,
// the exact bytes on the wire, the trace's timing, signals and the port lock.
#include "panel_session.h"

namespace {

TEST(PanelE2e, FirstPageShowsAtStartAndPagingWrapsBothWays)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  Session run;
  launch(&run, dir,
         {"--press", "down@600+100", "--press", "down@1300+100", "--press", "down@2000+100", "--press",
          "up@2700+100", "--press", "up@3400+100"},
         {"--every", "60", "echo P0; echo zero", "echo P1", "echo P2"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "set position row 0 column 1") >= 5;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  // Down, Down, Down wraps to the first page, Up wraps to the last, Up.
  // Only the cells that change are sent.
  Glass glass;
  EXPECT_EQ(drawn(run),
            PANEL_START +
                glass.show({{"P0", "zero"}, {"P1", ""}, {"P2", ""}, {"P0", "zero"}, {"P2", ""}, {"P1", ""}}));
  EXPECT_EQ(glass.show({{"P1", ""}}), Bytes{});
  EXPECT_EQ(glass.show({{"P0", ""}}), panel_cells(0, 1, "0"));
  EXPECT_EQ(run.out, box("P1", ""));
  EXPECT_EQ(panel_lines(run.err), "");
}

TEST(PanelE2e, ButtonHeldForASecondPagesOnce)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  Session run;
  const std::string log = dir + "/log";
  std::vector<std::string> arguments = {"--every", "60"};
  for (const char *name : {"A", "B", "C"})
    arguments.push_back(std::string("echo ") + name + " >> " + log + "; echo " + name);
  launch(&run, dir, {"--press", "down@400+1200"}, arguments);
  // Held for many passes, then released for a few.
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    const size_t last_down = r.err.rfind("(down)");
    return last_down != std::string::npos && count_of(r.err.substr(last_down), "(none)") >= 5;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_GE(count_of(run.err, "(down)"), 10U);
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "A") + panel_cells(0, 0, "B"));
  // Each page's command ran once: at the start, and after the one press.
  EXPECT_EQ(read_file(log), "A\nB\n");
}

TEST(PanelE2e, ConstantPageSendsNoTextAfterItsFirstDraw)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string runs = dir + "/runs";
  Session run;
  launch(&run, dir, {}, {"--every", "0.2", "echo x >> " + runs + "; echo constant"});
  EXPECT_TRUE(collect_until(&run, [&](const Session &) { return count_of(read_file(runs), "x") >= 5; }));
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "constant"));
}

TEST(PanelE2e, ChangingPageIsRedrawnWithinItsInterval)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string runs = dir + "/runs";
  Session run;
  launch(&run, dir, {}, {"--every", "0.3", "echo x >> " + runs + "; wc -l < " + runs});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "text '4' at row 0 column 0") >= 1;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Bytes expected = PANEL_START;
  for (const char *count : {"1", "2", "3", "4"})
    expected = expected + panel_cells(0, 0, count);
  const Bytes sent = drawn(run);
  ASSERT_GE(sent.size(), expected.size());
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + static_cast<long>(expected.size())), expected);
  // Runs start every 0.3 s: never sooner, and late only by what a busy machine adds.
  const std::vector<long> draws = times_of(run.err, "set position row 0 column 0");
  for (size_t i = 1; i < draws.size(); i++) {
    EXPECT_GE(draws[i] - draws[i - 1], 250) << "draw " << i;
    EXPECT_LE(draws[i] - draws[i - 1], 2300) << "draw " << i;
  }
}

TEST(PanelE2e, HangingPageIsKilledAtItsTimeoutWhilePressesStillPage)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string pids = dir + "/pids";
  const std::string runs = dir + "/runs";
  Session run;
  // Down into the hanging page, which times out; Down on; Up into it again
  // and Down out of it before its timeout.
  launch(&run, dir,
         {"--press", "down@400+100", "--press", "down@2800+100", "--press", "up@3400+100", "--press",
          "down@3700+100"},
         {"--timeout", "1.5", "--every", "60", "echo zero", hang(pids),
          "echo two; echo x >> " + runs + "; wc -l < " + runs});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "text '2' at row 1 column 0") >= 1;
  })) << trace_tail(run.err);
  // Checked while the panel runs: the emulator kills whatever is left when it ends.
  std::istringstream started(read_file(pids));
  int hangs = 0;
  for (std::string pid; started >> pid; hangs++)
    EXPECT_TRUE(process_gone(run, pid)) << "sleep " << pid << " still runs";
  EXPECT_EQ(hangs, 2);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  // The hanging page had no text yet: blank after its timeout.
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "zero") + panel_cells(0, 0, "    ") +
                            panel_cells(0, 0, "two") + panel_cells(1, 0, "1") + panel_cells(1, 0, "2"));
  const std::vector<long> first_down = times_of(run.err, "(down)");
  const std::vector<long> row0_draws = times_of(run.err, "set position row 0 column 0");
  ASSERT_FALSE(first_down.empty());
  ASSERT_GE(row0_draws.size(), 2U);
  EXPECT_GE(row0_draws[1] - first_down[0], 1400);
  // The buttons were asked all along while the command hung: in both halves
  // of the wait, however slowly each pass ran.
  const long middle = (first_down[0] + row0_draws[1]) / 2;
  size_t first_half = 0;
  size_t second_half = 0;
  for (const long at : times_of(run.err, "button query")) {
    first_half += at > first_down[0] && at < middle ? 1 : 0;
    second_half += at >= middle && at < row0_draws[1] ? 1 : 0;
  }
  EXPECT_GE(first_half, 1U);
  EXPECT_GE(second_half, 1U);
}

// Started with the stop signals blocked, as some service managers and
// shells leave them: the panel still stops on each of them.
TEST(PanelE2e, StopSignalsEndWithStatus0AndTheExitTextShownLast)
{
  SKIP_WITHOUT_NAMESPACES();
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    const Scratch scratch;
    const std::string &dir = scratch.path;
    Session run;
    {
      const StopSignalsBlocked blocked;
      launch(&run, dir, {}, {"--every", "0.1", "--exit-text", "Bye", "for now", "echo hello"});
    }
    EXPECT_TRUE(
        collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'h' at row 0") >= 1; }));
    finish(&run, signal_number);
    EXPECT_EQ(run.status, 0) << panel_lines(run.err);
    EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "hello") + panel_cells(0, 0, "Bye  ") +
                              panel_cells(1, 0, "for now"));
    EXPECT_EQ(run.out, box("Bye", "for now"));
  }
}

// The emulator ends everything the panel started once the panel ends, so a
// shell around the panel passes the stop signal on and outlives it, leaving
// the time to see that the panel itself killed its page command.
TEST(PanelE2e, StopWhileAPageCommandRunsKillsIt)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string pid = dir + "/pid";
  const std::string script = "\"$0\" --timeout 100 '" + hang(pid) + "' & panel=$!\n" +
                             "trap 'kill -TERM $panel' TERM\n" +
                             "wait $panel; wait $panel; echo \"panel: $?\"\n" + "exec sleep 1000\n";
  Session run;
  launch(&run, dir, {}, {"-c", script, LCM_PANEL_PATH}, "/bin/sh");
  EXPECT_TRUE(collect_until(&run, [&](const Session &) { return !read_file(pid).empty(); }));
  kill(run.pid, SIGTERM);
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return r.out.find('\n') != std::string::npos; }));
  EXPECT_EQ(run.out, "panel: 0\n") << panel_lines(run.err);
  EXPECT_TRUE(process_gone(run, read_file(pid)));
  // The second request ends the emulator's run outright.
  finish(&run);
}

TEST(PanelE2e, PortHeldByAnotherProgramEndsInOneLineAndStatus1)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string ready = dir + "/ready";
  const std::string panel = LCM_PANEL_PATH;
  // The first panel holds the port once its page runs; the second must give up.
  const std::string script = panel + " 'touch " + ready + "; echo holder' & holder=$!\n" + "while [ ! -e " +
                             ready + " ]; do sleep 0.05; done\n" + "timeout 20 " + panel +
                             " 'echo second'; echo \"second: $?\"\n" +
                             "kill $holder; wait $holder; echo \"holder: $?\"\n";
  Session run;
  launch(&run, dir, {}, {"-c", script}, "/bin/sh");
  finish(&run, 0);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find('+')), "second: 1\nholder: 0\n");
  const std::string lines = panel_lines(run.err);
  EXPECT_EQ(count_of(lines, "\n"), 1U) << lines;
  EXPECT_EQ(lines.rfind("/dev/ttyS1: in use by another program", 0), 0U) << lines;
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "holder"));
}

// Each query waits about two seconds (its own wait and the wait for the
// reply owed to the one before), so the panel sends each row once.
TEST(PanelE2e, SilentModuleIsReportedOnceAndStillGetsEveryRow)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path, {"--silent"}, {"--exit-text", "Bye", "for now", "echo A; echo B"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "text 'B' at row 1") >= 1 && count_of(r.err, "does not answer") >= 1;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: /dev/ttyS1: the display module does not answer\n");
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"A", "B"}, {"Bye", "for now"}}));
  EXPECT_EQ(run.out, box("Bye", "for now"));
}

// Every reply garbled on the line: both rows go out whole where they were
// placed, and after a second of it the module counts as not answering.
TEST(PanelE2e, GarbledRepliesCutNoRow)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path, {"--garbage"},
         {"--every", "60", "echo AAAAAAAAAAAAAAAA; echo BBBBBBBBBBBBBBBB"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "text 'B' at row 1") >= 16 && count_of(r.err, "does not answer") >= 1;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, box("AAAAAAAAAAAAAAAA", "BBBBBBBBBBBBBBBB"));
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: /dev/ttyS1: the display module does not answer\n");
}

// A page command writes a clear to the port once the page is drawn, as a
// program that ignores the port's lock would; the refresh puts the page back.
TEST(PanelE2e, GlassChangedBehindThePanelsBackIsHealedByTheRefresh)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string spoil = dir + "/spoil";
  Session run;
  launch(&run, dir, {},
         {"--every", "0.2", "--refresh", "1.5",
          "if [ -e " + spoil + " ]; then rm " + spoil +
              "; printf '\\376\\003' > /dev/ttyS1; fi; echo A; echo B"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'B' at row 1") >= 1; }))
      << trace_tail(run.err);
  std::ofstream(spoil).put('\n');
  // A clear besides the panel's first, then the page drawn again after it.
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    const size_t clear = r.err.rfind("clear");
    return count_of(r.err, "clear") >= 2 && r.err.find("text 'B' at row 1", clear) != std::string::npos;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(run.out, box("A", "B"));
  const Bytes sent = drawn(run);
  const Bytes refresh = panel_restore(panel_row(0, "A") + panel_row(1, "B"));
  ASSERT_GE(sent.size(), refresh.size());
  EXPECT_EQ(Bytes(sent.end() - static_cast<long>(refresh.size()), sent.end()), refresh);
}

// The nth run of the page: 1 prints, 2 and 3 hang silent, 4 prints two lines
// and hangs, 5 prints and ends, 6 and later hang silent.
TEST(PanelE2e, TimedOutPageKeepsWhatItReadAndSaysSoOnceUntilItEndsInTime)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string count = dir + "/count";
  const std::string page = "n=$(($(cat " + count + " 2>/dev/null || echo 0) + 1)); echo $n > " + count +
                           "\ncase $n in 1) echo good ;; 4) echo hi; echo there; exec >&-; exec sleep 5 ;;"
                           " 5) echo done ;; *) exec sleep 5 ;; esac";
  Session run;
  launch(&run, dir, {}, {"--every", "0.2", "--timeout", "0.5", page});
  EXPECT_TRUE(collect_until(
      &run, [&](const Session &) { return strtol(read_file(count).c_str(), nullptr, 10) >= 7; }));
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"good", ""}, {"hi", "there"}, {"done", ""}}));
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: page 1 timed out; its command was killed\n"
                                  "lcm-panel: page 1 timed out; its command was killed\n");
}

// Three runs of the page each leave a job in a session of its own, which
// outlives the page's shell; the job notes its parent once that shell has
// ended. The panel adopts the jobs and collects them when they end.
TEST(PanelE2e, JobsLeftByPageCommandsComeBackToThePanelAndAreCollected)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  const std::string job =
      "echo $$ > " + dir + "/job.$1; sleep 0.3; cut -d\" \" -f4 /proc/$$/stat >> " + dir + "/parents";
  const std::string page = "echo $PPID > " + dir + "/panel; echo x >> " + dir + "/runs; n=$(wc -l < " + dir +
                           "/runs)\nif [ $n -le 3 ]; then setsid sh -c '" + job + "' job $n &\n" +
                           "while [ ! -s " + dir + "/job.$n ]; do sleep 0.01; done; fi; echo shown";
  Session run;
  launch(&run, dir, {}, {"--every", "0.2", page});
  EXPECT_TRUE(
      collect_until(&run, [&](const Session &) { return count_of(read_file(dir + "/parents"), "\n") >= 3; }));
  const std::string panel = read_file(dir + "/panel");
  EXPECT_EQ(read_file(dir + "/parents"), panel + panel + panel);
  // Nothing below the emulator stays a zombie for long.
  const auto no_zombie = [&] {
    const std::vector<CommandProcess> below = processes_below(run.pid);
    return std::none_of(below.begin(), below.end(), [](const CommandProcess &p) { return p.zombie; });
  };
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!no_zombie() && std::chrono::steady_clock::now() < bound)
    usleep(10000);
  EXPECT_TRUE(no_zombie());
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
}

// Closed streams would otherwise be taken by a page command's pipe.
TEST(PanelE2e, StartedWithoutStandardInputAndOutputStillShowsItsPage)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path, {},
         {"-c", std::string("exec <&- >&-; exec ") + LCM_PANEL_PATH + " 'echo shown'"}, "/bin/sh");
  EXPECT_TRUE(
      collect_until(&run, [](const Session &r) { return count_of(r.err, "text 's' at row 0") >= 1; }));
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "shown"));
}

// The module is silent for three seconds, well after the first drawing.
TEST(PanelE2e, ModuleAwayIsReportedAndOnItsReturnEverythingIsSentAgain)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  Session run;
  launch(&run, dir, {"--silent-between", "4000-7000"}, {"--every", "60", "echo A; echo B"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err, "answers again") == 1 && count_of(r.err, "text 'B' at row 1") == 2;
  })) << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: /dev/ttyS1: the display module does not answer\n"
                                  "lcm-panel: /dev/ttyS1: the display module answers again\n");
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "A") + panel_cells(1, 0, "B") +
                            panel_restore(panel_row(0, "A") + panel_row(1, "B")));
}

// One reply late by half a second is a flaky line, not an absence: it is
// counted, and nothing is sent again.
TEST(PanelE2e, OneLateReplyIsNoAbsence)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path, {"--late-reply", "60:1500"}, {"--every", "60", "echo A; echo B"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "(late reply)") >= 1; }))
      << run.err;
  // Ten passes later the panel still asks and has sent nothing more.
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return count_of(r.err.substr(r.err.find("(late reply)")), "button query") >= 10;
  })) << run.err;
  finish(&run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(panel_lines(run.err), "");
  EXPECT_EQ(drawn(run), PANEL_START + panel_cells(0, 0, "A") + panel_cells(1, 0, "B"));
}

TEST(PanelE2e, LineHungUpEndsInOneLineAndStatus1)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string &dir = scratch.path;
  Session run;
  launch(&run, dir, {"--hangup-after", "30"}, {"echo x"});
  finish(&run, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: /dev/ttyS1: Input/output error\n");
}

TEST(PanelE2e, UsageHelpAndVersionLeaveTheLineAlone)
{
  SKIP_WITHOUT_NAMESPACES();
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out_start;
    std::string err_start;
  };
  const std::vector<Case> cases = {
      {{}, 2, "+---", "lcm-panel: no page given\nusage: lcm-panel [options] PAGE...\n"},
      {{"--every", "0.05", "true"}, 2, "+---", "lcm-panel: --every wants seconds"},
      {{"--bogus", "true"}, 2, "+---", "lcm-panel: unknown option --bogus\n"},
      {{"--help"}, 0, "usage: lcm-panel [options] PAGE...\n", ""},
      {{"--version"}, 0, "lcm-panel " LCM_VERSION "\n", ""},
  };
  for (const Case &c : cases) {
    const Scratch scratch;
    const std::string &dir = scratch.path;
    Session run;
    launch(&run, dir, {}, c.arguments);
    finish(&run, 0);
    EXPECT_EQ(run.status, c.status) << c.err_start;
    EXPECT_EQ(run.out.rfind(c.out_start, 0), 0U) << run.out;
    EXPECT_EQ(panel_lines(run.err).rfind(c.err_start, 0), 0U) << trace_tail(run.err);
    EXPECT_TRUE(run.wire.empty());
  }
}

// After a second without a press the display goes off, once; the press
// that switches it on again does nothing else.
TEST(PanelE2e, DisplayOffAfterIdleAndOnAgainAtAPress)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session run;
  launch(&run, scratch.path, {"--press", "down@4000+200"},
         {"--every", "60", "--display-off-after", "1", "echo One", "echo Two"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    const size_t off = r.err.find("display off");
    return off != std::string::npos && r.err.find("display on", off) != std::string::npos;
  })) << run.err;
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(hex(drawn(run)), hex(PANEL_START + panel_cells(0, 0, "One") + Bytes{0xFE, 0x02, 0xFE, 0x01}));
}

} // namespace
