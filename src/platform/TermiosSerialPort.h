#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "components/SerialPort.h"

class QSocketNotifier;

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
// in raw mode. Settings the device cannot carry out (modem lines on a
// pseudo-terminal, rates or handshaking a driver refuses) are left out without
// a failure; texts that are not valid settings are failures. Closing discards
// unsent output so that it never waits for a stalled line.
//
// A receive threshold of 1 or more reports every arrival (EventCode 2); 0
// reports none.
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
    Result SetReceiveBufferSize(int size) override;
    Result SetTransmitBufferSize(int size) override;
    int TransmitBufferSize() const override;
    void SetReceiveThreshold(int threshold) override;

    int EventCode() const override;
    int ReceiveWaiting() override;
    void DiscardReceived() override;
    Result ReadReceived(Bytes& out, int maxBytes) override;
    int TransmitWaiting() override;
    Result QueueTransmit(const Bytes& data) override;
    int OutputWaiting() override { return static_cast<int>(Queued()); }
    std::string DeviceLossReason() const override { return m_lossReason; }

    void HoldReceive() override;
    void ResumeReceive() override;

private:
    Result Open();
    void Close();
    Result ApplyLine();
    Result ApplyDtr();
    std::string Describe(const std::string& reason) const;
    Result Failure(int err) const;

    void OnReadable();
    void OnWritable();
    // Writes queued bytes while the device takes them; false on a device error
    // (err set).
    bool FlushQueue(int& err);
    void UpdateNotifiers();
    void TookBytes();
    std::size_t Queued() const { return m_txQueue.size() - m_txOffset; }

    std::string m_programFolder;
    int m_portNumber = 1;
    std::string m_settingsText = "9600,N,8,1";
    LineSettingsValues m_settings;
    int m_handshake = 0;
    bool m_dtr = true;
    int m_receiveBufferSize = 8192;
    int m_transmitBufferSize = 8192;
    int m_threshold = 1;
    int m_eventCode = 0;

    int m_fd = -1;
    std::string m_device;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // Bytes the driver could not take yet, oldest first from m_txOffset.
    Bytes m_txQueue;
    std::size_t m_txOffset = 0;
    bool m_holding = false;
    // The last event's handler took nothing: wait for a read instead of
    // raising the same event again and again.
    bool m_stalled = false;
    // The device hung up or failed: stop watching it so it cannot spin.
    bool m_lineGone = false;
    std::string m_lossReason;
    unsigned m_takeCount = 0;
    int m_dispatchDepth = 0;
};

}  // namespace velkon
