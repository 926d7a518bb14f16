#pragma once
// Routes a validated reply by its function code and shows a status block in the window.

#include <QLocale>
#include <cstdint>
#include <span>

#include "control/window_sinks.h"

namespace torvix {

// `reply` is exactly the bytes received in the tick, CRC included. A read reply is shown only
// when it is a whole status block (133 bytes, byte count 128); anything shorter would show
// bytes of earlier replies as live values. A write-multiple reply turns txt_prior_sec green.
void decodeReply(std::span<const std::uint8_t> reply, DisplaySink& display, const QLocale& locale);

}  // namespace torvix
