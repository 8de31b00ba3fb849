#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "components/Result.h"
#include "session/ByteQueue.h"

class QSocketNotifier;

namespace velkon {

// The non-blocking data path of a port on one descriptor, shared by the
// serial and the virtual port adapters.
//
// Output goes to the device at once as far as it takes it; the rest waits
// here, in order, and leaves when the device is writable again. Nothing is
// dropped and nothing blocks. When the waiting bytes are all gone, drained is
// raised, always from the event loop and never from inside Send.
//
// Arrivals raise received while reporting is on and not held. A handler that
// takes nothing stalls the reports until something is read (TookBytes), so
// bytes the owner leaves waiting do not wake the loop without end.
//
// Handlers may detach, re-attach or destroy the channel.
class PortChannel {
public:
    struct Handlers {
        std::function<void()> received;
        std::function<void()> drained;
        // The device failed: err is the errno of a read or write, or 0 when
        // it hung up. The channel has stopped watching by then.
        std::function<void(int err)> failed;
        // Packet mode: a status byte other than data came (TIOCPKT_*).
        std::function<void(unsigned char status)> status;
    };

    explicit PortChannel(Handlers handlers);
    ~PortChannel();

    PortChannel(const PortChannel&) = delete;
    PortChannel& operator=(const PortChannel&) = delete;

    // Starts watching fd, which stays the caller's to close (after Detach).
    void Attach(int fd);
    // Stops watching and drops the waiting output.
    void Detach();
    bool attached() const { return m_fd >= 0; }

    // 0, or the errno of a device failure (data is then not kept).
    int Send(const std::uint8_t* data, std::size_t size);
    int Send(const Bytes& data) { return Send(data.data(), data.size()); }
    std::size_t Queued() const { return static_cast<std::size_t>(m_queue.Count()); }
    // Drops the output waiting here.
    void DropQueued();

    // Bytes ready to read now, with those still on their way from the far
    // end of a terminal counted too.
    int Waiting() const;
    // Reads up to maxBytes of what is waiting: 0, or the errno of a failure
    // when nothing could be read.
    int Receive(Bytes& out, std::size_t maxBytes);
    // Reads up to maxBytes straight into buffer; got is the count read.
    // 0, or the errno of a failure when nothing could be read.
    int ReceiveInto(std::uint8_t* buffer, std::size_t maxBytes, std::size_t& got);
    // The owner took or dropped waiting bytes itself.
    void TookBytes();
    // Reports bytes that are waiting now, as the read notifier would; for an
    // owner that must hand them over before telling something else.
    void ReportWaiting();

    // Off: arrivals are not reported (receive threshold 0).
    void SetReporting(bool on);
    // A pseudo-terminal master in packet mode (TIOCPKT): every read starts
    // with a status byte, which is taken off the data here.
    void SetPacketMode(bool on) { m_packetMode = on; }
    void Hold();
    void Resume();

private:
    // Receive in packet mode (TIOCPKT): status bytes are taken off the data.
    int ReceivePackets(Bytes& out, std::size_t maxBytes);
    void OnReadable();
    void OnWritable();
    void DispatchReceived();
    // Packet mode: reads one status byte when no data waits; true if it did.
    bool TakeStatus();
    void ReportStatus(unsigned char status);
    // false with err set on a device failure.
    bool Flush(int& err);
    void Update();

    Handlers m_handlers;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // Bytes the device did not take yet, oldest first.
    ByteQueue m_queue{ByteQueue::kUnlimited};
    bool m_reporting = true;
    bool m_packetMode = false;
    bool m_holding = false;
    bool m_stalled = false;
    unsigned m_takeCount = 0;
    // Set while a handler runs: notifiers are then deleted by the event loop.
    int m_dispatchDepth = 0;
    // Tells a running dispatch that a handler destroyed the channel.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
