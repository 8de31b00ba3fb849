#include "session/SerialSide.h"

#include "session/SessionPresenter.h"
#include "session/SessionSettings.h"

namespace velkon {

namespace {

// Receive and transmit buffer of a physical port.
constexpr int kPortBufferSize = 8192;

}  // namespace

// ---------------------------------------------------------------- physical

bool PhysicalSerialSide::Open(const SessionSettings& settings, int connector)
{
    m_lost = false;
    if (m_port.IsPortOpen())
        m_port.SetPortOpen(false);
    Result r = m_port.SetCommPortNumber(connector);
    if (r)
        r = m_port.SetLineSettings(SerialSettingsText(settings));
    if (r) {
        const int flow = settings.FlowControl;
        if (flow >= 0 && flow <= 2) {
            r = m_port.SetDtrEnabled(true);
            if (r)
                r = m_port.SetHandshakeMode(flow);
        } else if (flow == 3) {
            r = m_port.SetHandshakeMode(2);
            if (r)
                r = m_port.SetDtrEnabled(false);
        }
    }
    if (r)
        r = m_port.SetReceiveBufferSize(kPortBufferSize);
    if (r)
        r = m_port.SetTransmitBufferSize(kPortBufferSize);
    if (r)
        r = m_port.SetPortOpen(true);
    if (!r) {
        Fail(r);
        return false;
    }
    if (!m_port.IsPortOpen()) {
        m_presenter.SetStatus(kSerialLine, m_presenter.Text(text::kPortNotAvailable));
        return false;
    }
    m_port.ResumeReceive();
    m_presenter.SetStatus(kSerialLine, m_presenter.Text(text::kOpen));
    return true;
}

void PhysicalSerialSide::Fail(const Result& failure)
{
    if (m_port.IsPortOpen())
        m_port.SetPortOpen(false);
    m_presenter.SetError(kSerialLine, failure.description());
}

bool PhysicalSerialSide::Close()
{
    m_lost = false;
    // Also ends the watch for a lost device's return.
    m_port.SetPortOpen(false);
    m_presenter.SetStatus(kSerialLine, m_presenter.Text(text::kClosed));
    return true;
}

int PhysicalSerialSide::ChunkSize() const
{
    const int size = m_port.TransmitBufferSize();
    return size > 0 ? size : kPortBufferSize;
}

void PhysicalSerialSide::Lost()
{
    m_lost = true;
    m_presenter.SetError(kSerialLine, m_port.DeviceLossReason());
}

bool PhysicalSerialSide::Reopen()
{
    if (!m_lost)
        return m_port.IsPortOpen();
    if (!m_port.SetPortOpen(true) || !m_port.IsPortOpen())
        return false;
    m_lost = false;
    m_port.ResumeReceive();
    m_presenter.SetStatus(kSerialLine, m_presenter.Text(text::kOpen));
    return true;
}

// ---------------------------------------------------------------- virtual

bool VirtualSerialSide::Open(const SessionSettings&, int connector)
{
    const std::string name = "COM" + std::to_string(connector);
    m_port.DeletePort();
    if (!m_port.CreatePort(name)) {
        m_presenter.SetStatusRaw(kSerialLine,
                                 m_presenter.Text(text::kCannotCreateVirtual) + " " + name);
        return false;
    }
    m_port.SetPortFlag(true);
    m_port.ResumeReceive();
    m_presenter.SetStatusRaw(kSerialLine, m_presenter.Text(text::kVirtualPort) + " " + name + " " +
                                              m_presenter.Text(text::kCreated));
    return true;
}

bool VirtualSerialSide::Close()
{
    if (!m_port.DeletePort()) {
        m_presenter.SetStatusRaw(kSerialLine, m_presenter.Text(text::kVirtualNotClosed));
        return false;
    }
    m_presenter.SetStatusRaw(kSerialLine, m_presenter.Text(text::kVirtualClosed));
    return true;
}

bool VirtualSerialSide::KeepsBytesForLater() const
{
    return m_settings.BufferSerialData != 0;
}

}  // namespace velkon
