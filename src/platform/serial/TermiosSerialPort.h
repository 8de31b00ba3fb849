#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/SerialPort.h"
#include "serial/LineWatch.h"
#include "serial/PortChannel.h"
#include "system/FileWatch.h"

class QObject;
class QTimer;

namespace velkon {

// A line settings text such as "9600,N,8,1", taken apart.
struct LineSettingsValues {
    enum class StopBits { kOne, kOneAndHalf, kTwo };

    int baudRate = 9600;
    char parity = 'N';  // N, E, O, M or S
    int dataBits = 8;
    StopBits stopBits = StopBits::kOne;
};

// "baud,parity,data bits,stop bits": any positive baud rate, parity N/E/O/M/S
// (either case), 5 to 8 data bits, stop bits 1, 1.5 (only with 5 data bits, as
// on a UART) or 2; blanks around the fields are ignored. On failure reason says
// what is wrong and values is left unchanged.
bool ParseLineSettings(std::string_view text, LineSettingsValues& values, std::string& reason);

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
// path leads to a device again. Closing the port or another port number ends
// the watch.
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
    int TransmitWaiting() override;
    Result QueueTransmit(const Bytes& data) override;
    int OutputWaiting() override { return static_cast<int>(m_channel.Queued()); }
    std::string DeviceLossReason() const override { return m_lossReason; }

    void HoldReceive() override;
    void ResumeReceive() override;

private:
    Result Open();
    void Close();
    Result ApplyLine(const LineSettingsValues& values, int handshake);
    Result ApplyDtr();
    Result ApplyModemLine(int line, bool on);
    std::string Describe(const std::string& reason) const;
    Result Failure(int err) const;

    void RaiseEvent(int code);
    // The open device failed (err 0: it hung up, else the errno).
    void Lose(int err);
    void OnNodeChanged();
    void StopLossWatch();
    void WatchFolders();
    void CheckBack();

    std::string m_programFolder;
    int m_portNumber = 1;
    std::string m_settingsText = "9600,N,8,1";
    LineSettingsValues m_settings;
    int m_handshake = 0;
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
    // While open: the device node, to notice its removal.
    FileWatch m_nodeWatch;
    LineWatch m_lineWatch;

    // While lost: the folders on the way to the device, and a slow retry for
    // what they cannot show.
    bool m_lost = false;
    std::string m_lossReason;
    std::uint64_t m_lostDev = 0;
    std::uint64_t m_lostIno = 0;
    bool m_seenMissing = false;
    std::vector<std::string> m_watchedFolders;
    std::vector<std::unique_ptr<FileWatch>> m_folderWatches;
    std::unique_ptr<QTimer> m_retryTimer;
    // Context of events posted to the event loop; deleting it cancels them.
    std::unique_ptr<QObject> m_posted;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
