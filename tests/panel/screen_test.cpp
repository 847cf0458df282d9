// The screen through the driver and the stand-in serial link: which cells,
// cursor and light commands reach the wire, and which go out again after a
// drawing that stalled or failed outright.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "bytes.h"
#include "fake_port.h"
#include "panel.h"

namespace {

const Bytes CURSOR_ON = {0xFE, 0x05};
const Bytes CURSOR_OFF = {0xFE, 0x06};
const Bytes DISPLAY_ON = {0xFE, 0x01};
const Bytes DISPLAY_OFF = {0xFE, 0x02};

Bytes at(int row, int column)
{
  return Bytes{0xFE, 0x09, static_cast<unsigned char>(row * 64 + column)};
}

PanelGlass glass_of(const char *row0, const char *row1, int light = GLASS_LIGHT_ON)
{
  PanelGlass glass;
  panel_row_from_text(&glass.rows.front(), row0);
  panel_row_from_text(&glass.rows.back(), row1);
  glass.light = light;
  return glass;
}

PanelGlass with_cursor(PanelGlass glass, int row, int column)
{
  glass.cursor = true;
  glass.cursor_row = row;
  glass.cursor_column = column;
  return glass;
}

std::string padded(const std::string &text)
{
  return text + std::string(static_cast<size_t>(LCM_COLUMNS) - text.size(), ' ');
}

// What went out since the last look.
Bytes taken()
{
  Bytes sent = fake_sent();
  fake_reset();
  return sent;
}

class Screen : public ::testing::Test {
protected:
  void SetUp() override
  {
    fake_reset();
    fake_fail_writes(0);
    ASSERT_EQ(screen_start(), 0);
    fake_reset();
  }
};

// Text goes where the position was just set: no position query, so a
// garbled position reply can no longer shift a row; a row's last cell ends
// the write, with no move after it.
TEST_F(Screen, ChangedCellsGoWhereThePositionWasSet)
{
  EXPECT_EQ(screen_show(glass_of("ABCDEFGH", "two"), 0), 0);
  EXPECT_EQ(taken(), at(0, 0) + text_bytes("ABCDEFGH") + at(1, 0) + text_bytes("two"));
  EXPECT_EQ(screen_show(glass_of("ABCDEFGH", "two"), 10), 0);
  EXPECT_EQ(taken(), Bytes{});
  EXPECT_EQ(screen_show(glass_of("ABxDEFGH", "tWo!"), 20), 0);
  EXPECT_EQ(taken(), at(0, 2) + text_bytes("x") + at(1, 1) + text_bytes("Wo!"));
  EXPECT_EQ(screen_show(glass_of("ABxDEFGH", "0123456789abcdef"), 30), 0);
  EXPECT_EQ(taken(), at(1, 0) + text_bytes("0123456789abcdef"));
  EXPECT_EQ(fake_read_count(), 0);
}

// Placed before it is shown, placed again only once text has moved it off
// its cell, hidden once, before text moves it.
TEST_F(Screen, CursorShownOnItsCellAndHidden)
{
  const PanelGlass edit = with_cursor(glass_of("Address", "10.0.0.1"), 1, 3);
  EXPECT_EQ(screen_show(edit, 0), 0);
  EXPECT_EQ(taken(),
            at(0, 0) + text_bytes("Address") + at(1, 0) + text_bytes("10.0.0.1") + at(1, 3) + CURSOR_ON);
  EXPECT_EQ(screen_show(edit, 10), 0);
  EXPECT_EQ(taken(), Bytes{});
  EXPECT_EQ(screen_show(with_cursor(glass_of("Address", "10.0.0.1"), 1, 4), 20), 0);
  EXPECT_EQ(taken(), at(1, 4));
  // The text's own advance leaves the cursor on the wanted cell.
  EXPECT_EQ(screen_show(with_cursor(glass_of("Address", "10.0.5.1"), 1, 6), 30), 0);
  EXPECT_EQ(taken(), at(1, 5) + text_bytes("5"));
  EXPECT_EQ(screen_show(with_cursor(glass_of("Address", "10.0.5.1"), 0, 15), 40), 0);
  EXPECT_EQ(taken(), at(0, 15));
  EXPECT_EQ(screen_show(glass_of("Page", ""), 50), 0);
  EXPECT_EQ(taken(), CURSOR_OFF + at(0, 0) + text_bytes("Page   ") + at(1, 0) + text_bytes("        "));
  EXPECT_EQ(screen_show(glass_of("Page", ""), 60), 0);
  EXPECT_EQ(taken(), Bytes{});
}

// The display's on and off stand in for a backlight: off once, blink
// about once a second and flash four times, each change sent once.
TEST_F(Screen, LightOffBlinkAndFlash)
{
  EXPECT_EQ(screen_show(glass_of("A", "", GLASS_LIGHT_OFF), 0), 0);
  EXPECT_EQ(taken(), at(0, 0) + text_bytes("A") + DISPLAY_OFF);
  EXPECT_EQ(screen_show(glass_of("A", "", GLASS_LIGHT_OFF), 10), 0);
  EXPECT_EQ(taken(), Bytes{});
  EXPECT_EQ(screen_show(glass_of("B", "", GLASS_LIGHT_ON), 20), 0);
  EXPECT_EQ(taken(), at(0, 0) + text_bytes("B") + DISPLAY_ON);

  Bytes blink;
  for (long long now = 1000; now < 3000; now += 10)
    EXPECT_EQ(screen_show(glass_of("B", "", GLASS_LIGHT_BLINK), now), 0);
  // Lit from 1000, dark from 1500, lit from 2000, dark from 2500.
  EXPECT_EQ(taken(), DISPLAY_OFF + DISPLAY_ON + DISPLAY_OFF);

  for (long long now = 3000; now < 4000; now += 10)
    EXPECT_EQ(screen_show(glass_of("B", "", GLASS_LIGHT_FLASH), now), 0);
  EXPECT_EQ(taken(), DISPLAY_ON + DISPLAY_OFF + DISPLAY_ON + DISPLAY_OFF + DISPLAY_ON + DISPLAY_OFF +
                         DISPLAY_ON + DISPLAY_OFF);
}

// Nothing taken as known, and the light as wanted: never a display on
// while the light is to stay off.
TEST_F(Screen, RestoreSendsTheWantedLightAndCursor)
{
  ASSERT_EQ(screen_show(glass_of("A", "B", GLASS_LIGHT_OFF), 0), 0);
  taken();
  EXPECT_EQ(screen_restore(glass_of("A", "B", GLASS_LIGHT_OFF), 10), 0);
  EXPECT_EQ(taken(), CURSOR_OFF + at(0, 0) + text_bytes(padded("A")) + at(1, 0) + text_bytes(padded("B")) +
                         DISPLAY_OFF);
  EXPECT_EQ(screen_restore(with_cursor(glass_of("A", "B"), 1, 1), 20), 0);
  EXPECT_EQ(taken(), at(0, 0) + text_bytes(padded("A")) + at(1, 0) + text_bytes(padded("B")) + at(1, 1) +
                         CURSOR_ON + DISPLAY_ON);
  EXPECT_EQ(screen_show(with_cursor(glass_of("A", "B"), 1, 1), 30), 0);
  EXPECT_EQ(taken(), Bytes{});
}

// Bytes that could not leave count as sent: a stalled line is not waited
// on again every pass. Any other failure ends the drawing, and what it
// left unknown goes whole.
TEST_F(Screen, StalledDrawingCountsAsSentAndFailedOneGoesAgain)
{
  for (const int error : {EAGAIN, ETIMEDOUT}) {
    SCOPED_TRACE(error);
    ASSERT_EQ(screen_start(), 0);
    fake_fail_writes(error);
    errno = 0;
    EXPECT_EQ(screen_show(with_cursor(glass_of("one", "two", GLASS_LIGHT_OFF), 1, 0), 0), -1);
    EXPECT_EQ(errno, error);
    fake_fail_writes(0);
    taken();
    EXPECT_EQ(screen_show(with_cursor(glass_of("one", "two", GLASS_LIGHT_OFF), 1, 0), 10), 0);
    // The cursor's cell was not known after the stalled text.
    EXPECT_EQ(taken(), at(1, 0));
    EXPECT_EQ(screen_show(with_cursor(glass_of("one", "tWo", GLASS_LIGHT_OFF), 1, 0), 20), 0);
    EXPECT_EQ(taken(), at(1, 1) + text_bytes("W") + at(1, 0));
  }

  ASSERT_EQ(screen_start(), 0);
  taken();
  fake_fail_writes(EIO);
  EXPECT_EQ(screen_show(glass_of("one", "two"), 0), -1);
  EXPECT_EQ(errno, EIO);
  fake_fail_writes(0);
  EXPECT_EQ(screen_show(glass_of("one", "two"), 10), 0);
  EXPECT_EQ(taken(), at(0, 0) + text_bytes(padded("one")) + at(1, 0) + text_bytes("two"));
}

} // namespace
