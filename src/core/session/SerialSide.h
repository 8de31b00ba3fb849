#pragma once

#include <string>

#include "components/SerialPort.h"
#include "components/VirtualPort.h"

namespace velkon {

class SessionPresenter;
struct SessionSettings;

// The serial side of a session, the same to both data paths whether it is a
// physical port or a virtual port the session created. Opening and closing
// show their outcome in the serial status line.
class SerialSide {
public:
    virtual ~SerialSide() = default;

    // Opens the side for COM number `connector`; false when it failed (the
    // status line says why).
    virtual bool Open(const SessionSettings& settings, int connector) = 0;
    // false when the side could not be closed (the status line says so).
    virtual bool Close() = 0;

    // Serial to network.
    virtual int Waiting() = 0;
    // Reads at most maxBytes into buffer; the count read (0: none waited).
    virtual int ReadInto(std::uint8_t* buffer, int maxBytes) = 0;
    virtual void Discard() = 0;
    virtual void Hold() = 0;
    virtual void Resume() = 0;

    // Network to serial: bytes may be handed over now.
    virtual bool Writable() = 0;
    // Bytes may wait for a reader to come (else they are dropped while
    // nobody could take them).
    virtual bool KeepsBytesForLater() const = 0;
    // false when the side took nothing (the bytes stay with the caller).
    virtual bool Write(const std::uint8_t* data, int size) = 0;
    // Bytes handed over that the device or application has not taken yet.
    virtual int OutputWaiting() = 0;
    // The most bytes handed over at once.
    virtual int ChunkSize() const = 0;
};

class PhysicalSerialSide : public SerialSide {
public:
    PhysicalSerialSide(SerialPort& port, SessionPresenter& presenter)
        : m_port(port), m_presenter(presenter)
    {
    }

    bool Open(const SessionSettings& settings, int connector) override;
    bool Close() override;
    // Shows the failure and closes the port (the first activation trap).
    void Fail(const Result& failure);

    int Waiting() override { return m_port.ReceiveWaiting(); }
    int ReadInto(std::uint8_t* buffer, int maxBytes) override
    {
        return m_port.ReadInto(buffer, maxBytes);
    }
    void Discard() override { m_port.DiscardReceived(); }
    void Hold() override { m_port.HoldReceive(); }
    void Resume() override { m_port.ResumeReceive(); }

    bool Writable() override { return m_port.IsPortOpen(); }
    bool KeepsBytesForLater() const override { return true; }
    bool Write(const std::uint8_t* data, int size) override
    {
        return m_port.Transmit(data, static_cast<std::size_t>(size)).ok();
    }
    int OutputWaiting() override { return m_port.OutputWaiting(); }
    int ChunkSize() const override;

    // The device went away: shown, and the bytes for it wait.
    void Lost();
    // The device is there again: opened with the same settings. True when
    // the port is open again.
    bool Reopen();
    bool IsLost() const { return m_lost; }

private:
    SerialPort& m_port;
    SessionPresenter& m_presenter;
    bool m_lost = false;
};

class VirtualSerialSide : public SerialSide {
public:
    VirtualSerialSide(VirtualPort& port, SessionPresenter& presenter,
                      const SessionSettings& settings)
        : m_port(port), m_presenter(presenter), m_settings(settings)
    {
    }

    // The largest chunk handed to the application at once.
    static constexpr int kChunk = 64 * 1024;

    bool Open(const SessionSettings& settings, int connector) override;
    bool Close() override;

    int Waiting() override { return m_port.AvailableCount(); }
    int ReadInto(std::uint8_t* buffer, int maxBytes) override
    {
        return m_port.ReadInto(buffer, maxBytes);
    }
    void Discard() override { m_port.PurgeReceived(); }
    void Hold() override { m_port.HoldReceive(); }
    void Resume() override { m_port.ResumeReceive(); }

    bool Writable() override { return m_port.IsOpenedByApplication(); }
    bool KeepsBytesForLater() const override;
    bool Write(const std::uint8_t* data, int size) override
    {
        return m_port.Write(data, static_cast<std::size_t>(size)) > 0;
    }
    int OutputWaiting() override { return m_port.OutputWaiting(); }
    int ChunkSize() const override { return kChunk; }

private:
    VirtualPort& m_port;
    SessionPresenter& m_presenter;
    const SessionSettings& m_settings;
};

}  // namespace velkon
