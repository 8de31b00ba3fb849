#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "Result.h"

namespace velkon {

// The session's serial control (serialPort): a physical port addressed by its
// COM number. Setters return a failure with a description naming the device.
class SerialPort {
public:
    // EventCode of a communications event that reports received bytes.
    static constexpr int kEventReceive = 2;
    // EventCode when every byte handed to QueueTransmit has gone to the
    // device (OutputWaiting dropped to 0): the session may hand over more.
    static constexpr int kEventSend = 1;
    // EventCode when the open device went away (hang-up, I/O error, node
    // removed). The port is closed by then; DeviceLossReason says why.
    static constexpr int kEventDeviceLost = 1010;
    // EventCode while the port is lost: the device path exists again, so
    // opening it may now succeed. May come more than once.
    static constexpr int kEventDeviceBack = 1011;
    // While WatchLines is on: an input modem line changed (comEvCTS,
    // comEvDSR, comEvCD, comEvRing), or the line reported a break or an
    // error (comEventBreak, comEventFrame, comEventOverrun, comEventRxParity).
    static constexpr int kEventCts = 3;
    static constexpr int kEventDsr = 4;
    static constexpr int kEventCd = 5;
    static constexpr int kEventRing = 6;
    static constexpr int kEventBreak = 1001;
    static constexpr int kEventFrame = 1004;
    static constexpr int kEventOverrun = 1006;
    static constexpr int kEventRxParity = 1009;
    // Bits of ModemLines.
    static constexpr int kLineCts = 1;
    static constexpr int kLineDsr = 2;
    static constexpr int kLineRi = 4;
    static constexpr int kLineDcd = 8;

    virtual ~SerialPort() = default;

    // Raised for every communications event; the handler reads EventCode().
    void setCommEventHandler(std::function<void()> handler) { m_onCommEvent = std::move(handler); }

    virtual bool IsPortOpen() const = 0;
    virtual Result SetPortOpen(bool open) = 0;
    virtual Result SetCommPortNumber(int number) = 0;
    // "9600,N,8,1": applied at once when the port is open, else at opening.
    virtual Result SetLineSettings(const std::string& settings) = 0;
    virtual std::string LineSettings() const = 0;
    // 0 none, 1 Xon/Xoff, 2 hardware (RTS/CTS).
    virtual Result SetHandshakeMode(int mode) = 0;
    virtual Result SetDtrEnabled(bool enabled) = 0;
    // Like DTR, a device without modem lines takes it without failing.
    virtual Result SetRtsEnabled(bool enabled) = 0;
    // Holds the line in the break state while on.
    virtual Result SetBreak(bool on) = 0;
    virtual Result SetReceiveBufferSize(int size) = 0;
    virtual Result SetTransmitBufferSize(int size) = 0;
    virtual int TransmitBufferSize() const = 0;
    virtual void SetReceiveThreshold(int threshold) = 0;

    virtual int EventCode() const = 0;
    virtual int ReceiveWaiting() = 0;
    // ReceiveWaiting := 0: drops every waiting received byte.
    virtual void DiscardReceived() = 0;
    // Drops every byte waiting to be sent, in the port and in the driver.
    virtual void DiscardTransmit() = 0;
    // kLine* bits of the input modem lines; -1 when the device has none.
    virtual int ModemLines() = 0;
    // On: the modem line and line error events are raised (a device without
    // modem lines raises none).
    virtual void WatchLines(bool on) = 0;
    // Takes at most maxBytes of the waiting bytes.
    virtual Result ReadReceived(Bytes& out, int maxBytes) = 0;
    // Reads at most maxBytes of the waiting bytes into buffer; the count
    // read, 0 when none wait.
    virtual int ReadInto(std::uint8_t* buffer, int maxBytes)
    {
        Bytes out;
        if (!ReadReceived(out, maxBytes))
            return 0;
        std::copy(out.begin(), out.end(), buffer);
        return static_cast<int>(out.size());
    }
    virtual int TransmitWaiting() = 0;
    // Writes at once what the device takes; the rest waits inside the port
    // and leaves as the device takes more (never dropped, never blocking).
    virtual Result QueueTransmit(const Bytes& data) = 0;
    virtual Result Transmit(const std::uint8_t* data, std::size_t size)
    {
        return QueueTransmit(Bytes(data, data + size));
    }
    // Bytes accepted by QueueTransmit that the device has not taken yet.
    virtual int OutputWaiting() = 0;
    // Why the device was lost (the last kEventDeviceLost); empty otherwise.
    virtual std::string DeviceLossReason() const = 0;

    // The session took less than was waiting because its queue was full; the
    // port stops reporting arrivals until ResumeReceive, so the bytes wait in
    // the driver (and the line's flow control holds back the sender).
    virtual void HoldReceive() = 0;
    virtual void ResumeReceive() = 0;

protected:
    void raiseCommEvent()
    {
        if (m_onCommEvent)
            m_onCommEvent();
    }

private:
    std::function<void()> m_onCommEvent;
};

}  // namespace velkon
