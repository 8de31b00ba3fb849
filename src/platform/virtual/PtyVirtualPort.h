#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/VirtualPort.h"
#include "serial/PortChannel.h"
#include "system/FileWatch.h"
#include "virtual/PortLinkPublication.h"

namespace velkon {

// The virtual port control on a pseudo-terminal. The adapter keeps the master
// and one descriptor of the slave (opened before anyone else can), so the
// pseudo-terminal never hangs up between applications and bytes for the next
// application wait in it. The slave is published as a symbolic link named
// after the port (PortLinkPublication).
//
// Applications opening and closing the slave are seen from inotify events on
// its device node, so an open lasting a millisecond is still reported, and
// bytes the application wrote before closing are reported before the close.
// While an application has it open the slave is exclusive (TIOCEXCL): a
// second opener without CAP_SYS_ADMIN gets EBUSY, as with a real port. When
// the application leaves, the slave goes back to raw mode, so bytes pass
// unchanged to an application that never configures it.
class PtyVirtualPort : public VirtualPort {
public:
    PtyVirtualPort();
    ~PtyVirtualPort() override;

    PtyVirtualPort(const PtyVirtualPort&) = delete;
    PtyVirtualPort& operator=(const PtyVirtualPort&) = delete;

    bool CreatePort(const std::string& name) override;
    bool DeletePort() override;
    void SetPortFlag(bool flag) override;
    void ResetBus() override;

    int AvailableCount() override;
    int ReadBytes(Bytes& buf, int count) override;
    int ReadInto(std::uint8_t* buffer, int count) override;
    int WriteBytes(const Bytes& buf) override;
    int Write(const std::uint8_t* data, std::size_t size) override;
    bool PurgeReceived() override;
    bool IsOpenedByApplication() override;
    // Only the bytes waiting inside the adapter: what the pseudo-terminal holds
    // unread cannot be measured from the master.
    int OutputWaiting() override;

    void HoldReceive() override;
    void ResumeReceive() override;

    // Packet mode (TIOCPKT) on the master with EXTPROC on the slave: the
    // kernel then reports every termios change of the application.
    void WatchLineSettings(bool on) override;
    std::string LineSettings() override;
    int HandshakeMode() override;
    // Rate, data bits and stop bits; every rate a physical port takes. The
    // parity is not put on the slave (a pseudo-terminal refuses it).
    bool SetLineSettings(const std::string& settings) override;

    // The published link, empty while there is no port.
    std::string LinkPath() const { return m_link.LinkPath(); }
    std::string DevicePath() const override { return LinkPath(); }

private:
    // The master and the adapter's slave descriptor, watched; false when any
    // step fails (Release undoes the steps taken).
    bool OpenPair(std::string& slavePath);
    void MakeSlaveRaw() const;
    void Release();
    void OnSlaveEvent(std::uint32_t mask);
    void ChangeOpenState(bool opened);
    void ApplyLineWatch();
    void OnPacketStatus(unsigned char status);

    int m_master = -1;
    int m_slave = -1;
    PortLinkPublication m_link;
    std::string m_slavePath;
    PortChannel m_channel;
    FileWatch m_slaveWatch;
    // Opens of the slave by applications not yet matched by a close.
    int m_appOpens = 0;
    bool m_portFlag = false;
    bool m_watchLines = false;
    // The master is in packet mode.
    bool m_packetMode = false;
    // Tells a running handler that the port was destroyed meanwhile.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
