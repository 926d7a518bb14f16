#pragma once
// The few things of the main window that the link and the decoder write or read.

#include <QString>
#include <cstdint>
#include <string_view>

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

// The selected position of cmb_slad: the slave address of every frame sent.
class SlaveAddressSource {
public:
    virtual ~SlaveAddressSource() = default;
    virtual int slaveAddress() const = 0;  // 0..127, -1 when nothing is selected
};

}  // namespace torvix
