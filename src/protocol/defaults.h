#pragma once
// What the window, the CLI and the simulator assume when nobody says otherwise, in one place.

namespace torvix::defaults {

// The controller's slave address: selected in the window's list at start, the default of the
// CLI's and the simulator's --address.
inline constexpr int kSlaveAddress = 7;
// The addresses the CLI and the simulator accept: 0 is the broadcast, which is never answered;
// 248..255 are reserved.
inline constexpr int kLowestSlaveAddress = 1;
inline constexpr int kHighestSlaveAddress = 247;

// The port numbers of the fixed device table, the port dialog's probe, the CLI's ports
// listing and the section "Ports" of тп.ini; COM1 when тп.ini names none.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;
inline constexpr int kPort = 1;

// Speed, parity, data bits, stop bits when тп.ini names none.
inline constexpr char kLineSettings[] = "115200,e,8,1";

// The poll tick: one exchange with the controller every 100 ms.
inline constexpr int kPollIntervalMs = 100;

}  // namespace torvix::defaults
