#pragma once
// The few things of the main window that the window's logic writes or reads.

#include <QString>
#include <cstdint>
#include <string_view>

#include "decode/status_texts.h"

namespace torvix {

// A control by its name and, for control arrays, the element index (-1 for a plain control).
struct ControlRef {
    std::string_view name;
    int index = -1;

    friend bool operator==(const ControlRef&, const ControlRef&) = default;
};

using Rgb = std::uint32_t;  // 0xRRGGBB
inline constexpr Rgb kWhite = 0xFFFFFF;
inline constexpr Rgb kRed = 0xFF0000;
inline constexpr Rgb kGreen = 0x00FF00;
inline constexpr Rgb kYellow = 0xFFFF00;

class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    virtual void setCaption(ControlRef control, const QString& text) = 0;
    // A lamp shows its colour when lit and the window's background when dark.
    virtual void setLamp(ControlRef lamp, bool lit) = 0;
    // Only the priority text box txt_prior_sec changes colour at run time.
    virtual void setBackground(ControlRef control, Rgb colour) = 0;

    // A whole status block, every caption and lamp, in the order of the register map. The
    // window overrides it to skip the look-up by name and the texts that did not change.
    virtual void showStatus(const StatusTexts& texts);
};

// The label lbl_sys_mes at the bottom of the window.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    // Shows the text before a blocking step (file access) rather than at the next repaint.
    virtual void repaintNow() {}
};

}  // namespace torvix
