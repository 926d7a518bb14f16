#pragma once
// The controls of the port settings dialog: names, captions, places (twips) and tab order.

#include <array>
#include <string_view>

#include "protocol/defaults.h"

namespace torvix::port_dialog_layout {

inline constexpr std::string_view kObjectName = "wndSetCOM";
inline constexpr std::string_view kTitle = "Настройка порта";
inline constexpr int kClientWidth = 4665;  // twips; 15 twips are one pixel at 96 dpi
inline constexpr int kClientHeight = 3525;
inline constexpr int kTwipsPerInch = 1440;

inline constexpr std::string_view kPortList = "cmbCOMList";
inline constexpr std::string_view kSettingsBox = "txt_settings";
inline constexpr std::string_view kCancelButton = "Отмена";
inline constexpr std::string_view kOkButton = "OK";
// What the port list shows while no entry is selected.
inline constexpr std::string_view kNoPortChosen = "Выберите порт";

struct Control {
    enum class Kind { Label, PortList, TextBox, Button };
    std::string_view name;
    Kind kind;
    std::string_view caption;  // UTF-8; the initial text for the list and the text box
    int left, top, width, height;
    int tabIndex;
};

using Kind = Control::Kind;

// The "ОК" caption is Cyrillic; the control's name "OK" is Latin.
inline constexpr std::array<Control, 11> kControls{{
    {"Label1", Kind::Label, "Выберите порт:", 480, 600, 1575, 255, 3},
    {kPortList, Kind::PortList, kNoPortChosen, 2280, 600, 1575, 315, 2},
    {"Label2", Kind::Label, "Настройки режима:", 360, 960, 1575, 255, 5},
    {kSettingsBox, Kind::TextBox, defaults::kLineSettings, 2280, 960, 1575, 285, 4},
    {"Label3", Kind::Label, "Формат ввода режима: Ск, Чт, Дн, Ст", 600, 1440, 3615, 255, 6},
    {"Label4", Kind::Label, "Ск - скорость (например - 115200, 57600)", 480, 1800, 3735, 255, 7},
    {"Label5", Kind::Label, "Чт - четность (n-нет, e - четный, o - не четный)", 480, 2040, 3735,
     255, 8},
    {"Label6", Kind::Label, "Дн - количество битов данных (стандартно - 8)", 480, 2280, 3735, 255,
     9},
    {"Label7", Kind::Label, "Ст - количество стоповых битов (1 или 2)", 480, 2520, 3735, 255, 10},
    {kCancelButton, Kind::Button, "Отмена", 600, 3000, 1335, 375, 1},
    {kOkButton, Kind::Button, "ОК", 2640, 3000, 1335, 375, 0},
}};

// Pixels for a length in twips on a screen of `dpi` logical dots per inch.
constexpr int twipsToPixels(int twips, double dpi) {
    const double pixels = twips * dpi / kTwipsPerInch;
    return int(pixels + (pixels < 0 ? -0.5 : 0.5));
}

}  // namespace torvix::port_dialog_layout
