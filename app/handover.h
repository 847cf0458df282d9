// lcm-show's hand-over of its two lines to a running lcm-panel; internal to lcm-show.
//
//   handover_show(first, second, reason, size)  HANDOVER_NO_PANEL, HANDOVER_SHOWN or HANDOVER_FAILED
//
// While lcm-panel runs it holds the port, and it takes other programs' text on
// its socket (lcm_share_path). The lines go only to the process that holds
// the port's lock (port_holder) and listens there; with no such panel,
// nothing is sent and lcm-show drives the port itself. The lines arrive
// already cut to 16 bytes; a control byte goes as '?', and the panel shows
// 0xFE as '?' too. A reason from the panel comes with every byte outside
// printable ASCII as '?'.
#ifndef LCM_APP_HANDOVER_H
#define LCM_APP_HANDOVER_H

#include <cstddef>

// Each line is its bytes and their count, at most 16.
struct HandoverLine {
  const unsigned char *text;
  int length;
};

// No panel holding the port answers on the socket: nothing was sent.
constexpr int HANDOVER_NO_PANEL = 0;
// The panel reports the rows drawn and the bytes gone from the host.
constexpr int HANDOVER_SHOWN = 1;
// A panel answered but could not show them; reason says why.
constexpr int HANDOVER_FAILED = 2;

[[nodiscard]] int handover_show(const HandoverLine &first, const HandoverLine &second, char *reason,
                                std::size_t reason_size);

#endif
