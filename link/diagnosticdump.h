#pragma once

#include <memory>

class HidDevice;

// The bring-up dump of a USB device's self-description: its four strings
// and one status report, as debug lines.
namespace DiagnosticDump {

constexpr unsigned short ProductId = 0xC141;

// Opens the device (vendor 0416, product c141), traces what it tells and
// returns it still open, non-blocking; null ("unable to open device") when
// it did not open. A device that never answers is given up after ten empty
// polls 500 ms apart.
std::unique_ptr<HidDevice> run();

} // namespace DiagnosticDump
