#pragma once

#include <memory>
#include <string>

#include "components/LineSettings.h"
#include "components/SerialPort.h"
#include "serial/DeviceWatch.h"
#include "serial/LineWatch.h"
#include "serial/PortChannel.h"

class QObject;

namespace velkon {

// The serial control on a Linux terminal device. COM numbers are mapped to
// device paths by DeviceForPort with the program folder given here.
//
// The device is opened non-blocking and exclusively (TIOCEXCL and an flock, so
// that a second opening, also from this process, reports the port in use) and
// in raw mode. Settings the device refuses, or takes only in part, are
// failures that keep the previous settings; only missing modem lines (DTR on
// a pseudo-terminal or a simple adapter) are tolerated. Closing discards
// unsent output so that it never waits for a stalled line.
//
// When the open device goes away (hang-up, I/O error, node removed) the port
// closes and raises EventCode kEventDeviceLost once; it then watches the
// device path, through symbolic links, and raises kEventDeviceBack when the
// path leads to a device again. While open it follows the path too: when a
// link is re-pointed to another device, the port is lost and back in the same
// way, so reopening it reaches the new device. Closing the port or another
// port number ends the watch (DeviceWatch).
//
// A receive threshold of 1 or more reports every arrival (EventCode 2); 0
// reports none. kEventSend comes when all queued output has left.
class TermiosSerialPort : public SerialPort {
public:
    explicit TermiosSerialPort(std::string programFolder);
    ~TermiosSerialPort() override;

    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    bool IsPortOpen() const override;
    Result SetPortOpen(bool open) override;
    Result SetCommPortNumber(int number) override;
    Result SetLineSettings(const std::string& settings) override;
    std::string LineSettings() const override;
    Result SetHandshakeMode(int mode) override;
    Result SetDtrEnabled(bool enabled) override;
    Result SetRtsEnabled(bool enabled) override;
    Result SetBreak(bool on) override;
    Result SetReceiveBufferSize(int size) override;
    Result SetTransmitBufferSize(int size) override;
    int TransmitBufferSize() const override;
    void SetReceiveThreshold(int threshold) override;

    int EventCode() const override;
    int ReceiveWaiting() override;
    void DiscardReceived() override;
    void DiscardTransmit() override;
    int ModemLines() override;
    void WatchLines(bool on) override;
    Result ReadReceived(Bytes& out, int maxBytes) override;
    int ReadInto(std::uint8_t* buffer, int maxBytes) override;
    int TransmitWaiting() override;
    Result QueueTransmit(const Bytes& data) override;
    Result Transmit(const std::uint8_t* data, std::size_t size) override;
    int OutputWaiting() override { return static_cast<int>(m_channel.Queued()); }
    std::string DeviceLossReason() const override { return m_lossReason; }

    void HoldReceive() override;
    void ResumeReceive() override;

private:
    Result Open();
    void Close();
    // Puts line in force (on the open port) and keeps it.
    Result UseLine(const velkon::LineSettings& line);
    Result ApplyLine(const velkon::LineSettings& line);
    Result ApplyDtr();
    Result ApplyModemLine(int line, bool on);
    std::string Describe(const std::string& reason) const;
    Result Failure(int err) const;

    void RaiseEvent(int code);
    // The open device is gone, or no longer where the path leads.
    void Lose(const std::string& reason);
    void StopLossWatch();

    std::string m_programFolder;
    int m_portNumber = 1;
    velkon::LineSettings m_line;
    bool m_dtr = true;
    bool m_rts = true;
    bool m_watchLines = false;
    int m_receiveBufferSize = 8192;
    int m_transmitBufferSize = 8192;
    int m_threshold = 1;
    int m_eventCode = 0;

    int m_fd = -1;
    std::string m_device;
    PortChannel m_channel;
    LineWatch m_lineWatch;
    DeviceWatch m_deviceWatch;

    bool m_lost = false;
    std::string m_lossReason;
    // Context of events posted to the event loop; deleting it cancels them.
    std::unique_ptr<QObject> m_posted;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
