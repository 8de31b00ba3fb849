#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "Result.h"

namespace velkon {

// The session's virtual port control (virtualPort): a port the session creates so
// that another program on this computer can open it like a serial port.
class VirtualPort {
public:
    virtual ~VirtualPort() = default;

    void setDataReceivedHandler(std::function<void()> handler) { m_onData = std::move(handler); }
    void setOpenStateChangedHandler(std::function<void(bool)> handler)
    {
        m_onOpenState = std::move(handler);
    }
    // Raised when OutputWaiting drops to 0: the session may hand over more.
    void setOutputDrainedHandler(std::function<void()> handler)
    {
        m_onDrained = std::move(handler);
    }
    // Raised while WatchLineSettings is on and the application changed the
    // line settings of the port.
    void setLineSettingsChangedHandler(std::function<void()> handler)
    {
        m_onLineSettings = std::move(handler);
    }

    // name is "COM" + number; true when the port exists afterwards.
    virtual bool CreatePort(const std::string& name) = 0;
    // true when the port is gone (also when there was none).
    virtual bool DeletePort() = 0;
    virtual void SetPortFlag(bool flag) = 0;
    // Removes ports left behind by instances that no longer run.
    virtual void ResetBus() = 0;

    virtual int AvailableCount() = 0;
    // Reads up to count bytes into buf (resized to what was read).
    virtual int ReadBytes(Bytes& buf, int count) = 0;
    // Reads up to count bytes into buffer; the count read.
    virtual int ReadInto(std::uint8_t* buffer, int count)
    {
        Bytes out;
        ReadBytes(out, count);
        std::copy(out.begin(), out.end(), buffer);
        return static_cast<int>(out.size());
    }
    // Delivers the bytes to the application; never blocks, never drops.
    virtual int WriteBytes(const Bytes& buf) = 0;
    virtual int Write(const std::uint8_t* data, std::size_t size)
    {
        return WriteBytes(Bytes(data, data + size));
    }
    virtual bool PurgeReceived() = 0;
    virtual bool IsOpenedByApplication() = 0;
    // The path an application opens to reach the port; empty while there
    // is none.
    virtual std::string DevicePath() const { return {}; }
    // Bytes accepted by WriteBytes that the application has not taken yet.
    virtual int OutputWaiting() = 0;

    // Flow control towards the application, as for SerialPort.
    virtual void HoldReceive() = 0;
    virtual void ResumeReceive() = 0;

    virtual void WatchLineSettings(bool on) = 0;
    // The line settings the application set, as "38400,N,8,1"; "" while
    // there is no port.
    virtual std::string LineSettings() = 0;
    // The application's flow control: 0 none, 1 Xon/Xoff, 2 hardware.
    virtual int HandshakeMode() = 0;
    // Puts settings in force on the application's side (what the far port
    // really uses); false when they cannot be.
    virtual bool SetLineSettings(const std::string& settings) = 0;

protected:
    void raiseDataReceived()
    {
        if (m_onData)
            m_onData();
    }
    void raiseOpenStateChanged(bool opened)
    {
        if (m_onOpenState)
            m_onOpenState(opened);
    }
    void raiseOutputDrained()
    {
        if (m_onDrained)
            m_onDrained();
    }
    void raiseLineSettingsChanged()
    {
        if (m_onLineSettings)
            m_onLineSettings();
    }

private:
    std::function<void()> m_onData;
    std::function<void(bool)> m_onOpenState;
    std::function<void()> m_onDrained;
    std::function<void()> m_onLineSettings;
};

}  // namespace velkon
