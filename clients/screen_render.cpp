#include <algorithm>

#include "client_records.h"

namespace {

// The cell size the panel tells clients: bars come in pixels of it.
constexpr int CELL_WIDTH = 5;
constexpr int CELL_HEIGHT = 8;
constexpr char BAR_CELL = '#';
// A big number shows as its digit; 10 is the colon between hours and minutes.
constexpr std::array<char, 11> BIG_NUMBERS = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ':'};
// Blanks between the end of a marquee's text and its beginning again.
constexpr int MARQUEE_GAP = 3;
// A title too long for its row moves one step every half second.
constexpr int TITLE_SPEED = 4;
// Frames within frames, at most; deeper ones are not drawn.
constexpr int FRAME_DEPTH_MAX = 8;

// Where a widget space lies on the glass: the glass cell of its column 1,
// row 1 (0-based), its own size, and the glass cells it may draw on.
struct Space {
  int column = 0;
  int row = 0;
  int width = LCM_COLUMNS;
  int height = LCM_ROWS;
  int clip_left = 0;
  int clip_top = 0;
  int clip_right = LCM_COLUMNS - 1;
  int clip_bottom = LCM_ROWS - 1;
};

struct Canvas {
  PanelRows *rows;
  long long now_ms;
  const Client *owner;
  int screen;
};

void put(const Canvas &canvas, const Space &space, int x, int y, char byte)
{
  const int column = space.column + x - 1;
  const int row = space.row + y - 1;
  if (column < space.clip_left || column > space.clip_right || row < space.clip_top ||
      row > space.clip_bottom)
    return;
  (*canvas.rows)[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] =
      static_cast<unsigned char>(byte);
}

void put_text(const Canvas &canvas, const Space &space, int x, int y, const char *text, int length)
{
  for (int i = 0; i < length; i++)
    put(canvas, space, x + i, y, text[i]);
}

// Eighths of a second make a step; a positive speed is the eighths a step
// takes, a negative one the steps an eighth makes, 0 stands still.
long long steps(const ClientWidget &widget, long long now_ms, int speed)
{
  constexpr long long EIGHTHS_PER_SECOND = 8;
  constexpr long long MS_PER_SECOND = 1000;
  const long long eighths = std::max(0LL, now_ms - widget.moved_from_ms) * EIGHTHS_PER_SECOND / MS_PER_SECOND;
  if (speed > 0)
    return eighths / speed;
  return eighths * -speed;
}

// Where a window of size shown over size cells starts after so many steps:
// from the beginning to the end, then from the beginning again.
int offset_after(long long moved, int size, int shown)
{
  if (size <= shown)
    return 0;
  return static_cast<int>(moved % (size - shown + 1));
}

int text_length(const ClientWidget &widget)
{
  return static_cast<int>(widget.text.length);
}

void draw_sideways(const Canvas &canvas, const Space &space, const ClientWidget &widget, int width, int speed)
{
  const int length = text_length(widget);
  const char *text = widget.text.bytes.data();
  const long long moved = steps(widget, canvas.now_ms, speed);
  if (widget.direction != 'm' || length <= width) {
    const int offset = offset_after(moved, length, width);
    put_text(canvas, space, widget.x, widget.y, text + offset, std::min(width, length - offset));
    return;
  }
  const int period = length + MARQUEE_GAP;
  const int offset = static_cast<int>(moved % period);
  for (int i = 0; i < width; i++) {
    const int at = (offset + i) % period;
    put(canvas, space, widget.x + i, widget.y, at < length ? text[at] : ' ');
  }
}

// The text broken into lines of the scroller's width, moving up a line a step.
void draw_upwards(const Canvas &canvas, const Space &space, const ClientWidget &widget, int width, int height)
{
  const int length = text_length(widget);
  const int lines = (length + width - 1) / width;
  const int first = offset_after(steps(widget, canvas.now_ms, widget.speed), lines, height);
  for (int line = 0; line < height && first + line < lines; line++) {
    const int start = (first + line) * width;
    put_text(canvas, space, widget.x, widget.y + line, widget.text.bytes.data() + start,
             std::min(width, length - start));
  }
}

void draw_scroller(const Canvas &canvas, const Space &space, const ClientWidget &widget)
{
  const int width = widget.right - widget.x + 1;
  const int height = widget.bottom - widget.y + 1;
  if (width <= 0 || height <= 0)
    return;
  // The scroller's own area clips what it draws.
  Space inside = space;
  inside.clip_left = std::max(space.clip_left, space.column + widget.x - 1);
  inside.clip_right = std::min(space.clip_right, space.column + widget.right - 1);
  inside.clip_top = std::max(space.clip_top, space.row + widget.y - 1);
  inside.clip_bottom = std::min(space.clip_bottom, space.row + widget.bottom - 1);
  if (widget.direction == 'v')
    draw_upwards(canvas, inside, widget, width, height);
  else
    draw_sideways(canvas, inside, widget, width, widget.speed);
}

// "## TEXT ###" across the first row of its space; a text too long for
// that moves through the whole row instead.
void draw_title(const Canvas &canvas, const Space &space, const ClientWidget &widget)
{
  constexpr int DECORATION = 4;
  const int length = text_length(widget);
  if (length + DECORATION > space.width) {
    ClientWidget moving = widget;
    moving.x = 1;
    moving.y = 1;
    moving.direction = 'h';
    draw_sideways(canvas, space, moving, space.width, TITLE_SPEED);
    return;
  }
  for (int x = 1; x <= space.width; x++)
    put(canvas, space, x, 1, '#');
  put(canvas, space, 3, 1, ' ');
  put_text(canvas, space, DECORATION, 1, widget.text.bytes.data(), length);
  put(canvas, space, DECORATION + length, 1, ' ');
}

// Bars are whole cells, to the nearest.
int cells_of(int pixels, int cell)
{
  return pixels > 0 ? (pixels + cell / 2) / cell : 0;
}

void draw_widgets(const Canvas &canvas, const Space &space, int frame, int depth);

void draw_frame(const Canvas &canvas, const Space &space, const ClientWidget &frame, int slot, int depth)
{
  const int shown_width = frame.right - frame.x + 1;
  const int shown_height = frame.bottom - frame.y + 1;
  if (shown_width <= 0 || shown_height <= 0 || depth >= FRAME_DEPTH_MAX)
    return;
  const long long moved = steps(frame, canvas.now_ms, frame.speed);
  const int down = frame.direction == 'v' ? offset_after(moved, frame.inner_height, shown_height) : 0;
  const int across = frame.direction == 'h' ? offset_after(moved, frame.inner_width, shown_width) : 0;
  Space inside;
  inside.column = space.column + frame.x - 1 - across;
  inside.row = space.row + frame.y - 1 - down;
  inside.width = frame.inner_width;
  inside.height = frame.inner_height;
  inside.clip_left = std::max({space.clip_left, space.column + frame.x - 1, inside.column});
  inside.clip_top = std::max({space.clip_top, space.row + frame.y - 1, inside.row});
  inside.clip_right =
      std::min({space.clip_right, space.column + frame.right - 1, inside.column + frame.inner_width - 1});
  inside.clip_bottom =
      std::min({space.clip_bottom, space.row + frame.bottom - 1, inside.row + frame.inner_height - 1});
  draw_widgets(canvas, inside, slot, depth + 1);
}

void draw_widget(const Canvas &canvas, const Space &space, const ClientWidget &widget, int slot, int depth)
{
  switch (widget.type) {
  case WIDGET_STRING:
    put_text(canvas, space, widget.x, widget.y, widget.text.bytes.data(), text_length(widget));
    break;
  case WIDGET_TITLE:
    draw_title(canvas, space, widget);
    break;
  case WIDGET_HBAR:
    for (int cell = 0; cell < cells_of(widget.value, CELL_WIDTH); cell++)
      put(canvas, space, widget.x + cell, widget.y, BAR_CELL);
    break;
  case WIDGET_VBAR:
    for (int cell = 0; cell < cells_of(widget.value, CELL_HEIGHT); cell++)
      put(canvas, space, widget.x, widget.y - cell, BAR_CELL);
    break;
  case WIDGET_ICON:
    put(canvas, space, widget.x, widget.y, static_cast<char>(widget.value));
    break;
  case WIDGET_NUM:
    // A big digit stands as a plain one in each of the two rows it would fill.
    for (int y = 1; y <= LCM_ROWS; y++)
      put(canvas, space, widget.x, y, BIG_NUMBERS[static_cast<std::size_t>(widget.value)]);
    break;
  case WIDGET_SCROLLER:
    draw_scroller(canvas, space, widget);
    break;
  default:
    draw_frame(canvas, space, widget, slot, depth);
    break;
  }
}

// The widgets of one space in the order they were added, later ones on top.
void draw_widgets(const Canvas &canvas, const Space &space, int frame, int depth)
{
  std::array<int, CLIENTS_WIDGETS> order{};
  int count = 0;
  for (int slot = 0; slot < CLIENTS_WIDGETS; slot++) {
    const ClientWidget &widget = canvas.owner->widgets[static_cast<std::size_t>(slot)];
    if (widget.used && widget.set && widget.screen == canvas.screen && widget.frame == frame)
      order[static_cast<std::size_t>(count++)] = slot;
  }
  const auto &widgets = canvas.owner->widgets;
  std::sort(order.begin(), order.begin() + count, [&widgets](int a, int b) {
    return widgets[static_cast<std::size_t>(a)].added < widgets[static_cast<std::size_t>(b)].added;
  });
  for (int i = 0; i < count; i++) {
    const int slot = order[static_cast<std::size_t>(i)];
    draw_widget(canvas, space, widgets[static_cast<std::size_t>(slot)], slot, depth);
  }
}

} // namespace

int clients_render(const ScreenHandle &handle, long long now_ms, PanelRows *rows)
{
  if (!clients_valid(handle))
    return -1;
  if (handle.client == CLIENTS_PANEL) {
    *rows = hand_over.rows;
    return 0;
  }
  for (PanelRow &row : *rows)
    row.fill(' ');
  const Canvas canvas{rows, now_ms, &clients[static_cast<std::size_t>(handle.client)], handle.screen};
  draw_widgets(canvas, Space{}, -1, 0);
  return 0;
}
