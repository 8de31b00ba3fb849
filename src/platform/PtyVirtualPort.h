#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "components/VirtualPort.h"

class QSocketNotifier;
class QTimer;

namespace velkon {

// The virtual port control on a pseudo-terminal. The adapter keeps the master;
// the slave is published as a symbolic link named after the port (COM3) in
// RuntimeDirectory(), beside a lock file (.COM3.lock) that the adapter holds
// locked (flock) for the port's lifetime, so that a link whose lock nobody
// holds is known to be left over.
//
// The slave is in raw mode whenever no application has it open, so bytes pass
// unchanged to an application that never configures it. Whether an
// application has the slave open is read from the master (it reports a
// hang-up exactly while nobody has the slave open), every 50 ms and at once
// when the hang-up wakes the read notifier. The adapter never keeps the slave
// open itself.
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
    int WriteBytes(const Bytes& buf) override;
    bool PurgeReceived() override;
    bool IsOpenedByApplication() override;
    // Only the bytes waiting inside the adapter: what the pseudo-terminal holds
    // unread cannot be measured from the master.
    int OutputWaiting() override;

    void HoldReceive() override;
    void ResumeReceive() override;

    // The published link, empty while there is no port.
    std::string LinkPath() const { return m_linkPath; }

private:
    bool SlaveOpen() const;
    void MakeSlaveRaw() const;
    void Release();
    void OnPoll();
    void OnReadable();
    void OnWritable();
    void DeliverData();
    void ChangeOpenState(bool opened);
    void FlushQueue();
    void UpdateNotifiers();
    void TookBytes();
    std::size_t Queued() const { return m_outQueue.size() - m_outOffset; }

    int m_master = -1;
    int m_lockFd = -1;
    std::string m_linkPath;
    std::string m_lockPath;
    std::string m_slavePath;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::unique_ptr<QTimer> m_pollTimer;
    // Bytes for the application that the pseudo-terminal could not take yet,
    // oldest first from m_outOffset.
    Bytes m_outQueue;
    std::size_t m_outOffset = 0;
    bool m_appOpen = false;
    bool m_portFlag = false;
    bool m_holding = false;
    // The last data event's handler took nothing: wait for a read.
    bool m_stalled = false;
    unsigned m_takeCount = 0;
    int m_dispatchDepth = 0;
};

}  // namespace velkon
