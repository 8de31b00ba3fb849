#pragma once

#include <string>

namespace velkon {

// The device path of port COM<number>: the [Ports] entry of "ports.ini" in
// programFolder (COM3=/dev/ttyUSB0) when there is one, else COM1-COM32 are
// /dev/ttyS0-31, COM33-COM64 /dev/ttyUSB0-31, COM65-COM96 /dev/ttyACM0-31.
// Empty when the port has no device (numbers above 96 without an entry, and
// numbers outside 1 to 256).
std::string DeviceForPort(int number, const std::string& programFolder);

}  // namespace velkon
