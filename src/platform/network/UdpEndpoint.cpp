#include "network/UdpEndpoint.h"

#include <algorithm>

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>

#include "network/SocketAddress.h"
#include "network/SocketErrors.h"

namespace velkon {

UdpEndpoint::UdpEndpoint(Events events)
    : m_events(std::move(events)), m_context(std::make_unique<QObject>())
{
}

UdpEndpoint::~UdpEndpoint()
{
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
    }
    // The socket and the lookup callbacks go with their context.
    m_context.reset();
}

Result UdpEndpoint::Bind(int port, const std::string& localAddress)
{
    const QString text = HostText(localAddress);
    QHostAddress address = QHostAddress::Any;
    if (!text.isEmpty() && !address.setAddress(text)) {
        return Result::Fail("Address not available: " + localAddress, kErrAddressNotAvailable);
    }
    auto socket = std::make_unique<QUdpSocket>();
    // Without address sharing, so that a port in use is reported as such.
    if (!socket->bind(address, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        return FailureFromQt(*socket).ToResult();
    }
    m_socket = socket.release();
    m_socket->setParent(m_context.get());
    QObject::connect(m_socket, &QUdpSocket::readyRead, m_context.get(), [this] { OnReadyRead(); });
    return Result::Ok();
}

int UdpEndpoint::LocalPort() const
{
    return m_socket != nullptr ? m_socket->localPort() : 0;
}

void UdpEndpoint::OnReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        if (!datagram.isValid()) {
            break;
        }
        if (m_allowed) {
            // Never the latest sender either: nothing is ever sent to it.
            const std::string address = AddressText(datagram.senderAddress());
            if (!m_allowed(address)) {
                if (m_events.refused) {
                    m_events.refused(address);
                }
                continue;
            }
        }
        m_latestSender = datagram.senderAddress();
        m_latestSenderPort = datagram.senderPort();
        if (datagram.data().isEmpty() || m_received.size() >= kMaxDatagrams) {
            continue;
        }
        m_received.push_back(datagram.data());
        m_events.arrived();
    }
}

std::size_t UdpEndpoint::NextSize() const
{
    return m_received.empty() ? 0 : static_cast<std::size_t>(m_received.front().size());
}

void UdpEndpoint::Take(Bytes& out)
{
    out.clear();
    if (!m_received.empty()) {
        const QByteArray& datagram = m_received.front();
        out.assign(datagram.begin(), datagram.end());
        m_received.pop_front();
    }
}

std::string UdpEndpoint::LatestSender() const
{
    return AddressText(m_latestSender);
}

Result UdpEndpoint::Write(const QByteArray& payload, const QHostAddress& address, int port)
{
    if (m_socket->writeDatagram(payload, address, static_cast<quint16>(port)) < 0) {
        return FailureFromQt(*m_socket).ToResult();
    }
    return Result::Ok();
}

Result UdpEndpoint::Send(const Bytes& data, const std::string& remoteHost, int remotePort)
{
    if (data.empty()) {
        return Result::Ok();
    }
    const QByteArray payload(reinterpret_cast<const char*>(data.data()),
                             static_cast<qsizetype>(data.size()));
    const QString host = HostText(remoteHost);
    if (host.isEmpty()) {
        if (m_latestSender.isNull()) {
            return Result::Ok();  // no datagram has come yet: nowhere to send
        }
        return Write(payload, m_latestSender, remotePort > 0 ? remotePort : m_latestSenderPort);
    }
    if (remotePort < 1 || remotePort > 65535) {
        return Result::Fail("Invalid remote port " + std::to_string(remotePort),
                            kErrAddressNotAvailable);
    }
    QHostAddress literal;
    if (literal.setAddress(host)) {
        return Write(payload, literal, remotePort);
    }
    return SendToName(payload, host, remotePort);
}

Result UdpEndpoint::SendToName(const QByteArray& payload, const QString& host, int port)
{
    if (m_lookupName != host) {
        if (m_lookupId >= 0) {
            QHostInfo::abortHostLookup(m_lookupId);
            m_lookupId = -1;
        }
        m_lookup = Lookup::kNone;
        m_lookupName = host;
        DropWaiting();
    }
    switch (m_lookup) {
        case Lookup::kDone:
            return Write(payload, m_lookupAddress, port);
        case Lookup::kFailed:
            StartLookup(port);
            return Result::Fail("Host not found: " + host.toStdString(), kErrHostNotFound);
        case Lookup::kNone:
            StartLookup(port);
            [[fallthrough]];
        case Lookup::kPending:
            if (m_waiting.size() < kMaxWaitingDatagrams) {
                m_waiting.push_back(payload);
                m_waitingBytes += static_cast<std::size_t>(payload.size());
            }
            return Result::Ok();
    }
    return Result::Ok();
}

void UdpEndpoint::StartLookup(int port)
{
    m_lookup = Lookup::kPending;
    const QString name = m_lookupName;
    m_lookupId =
        QHostInfo::lookupHost(name, m_context.get(), [this, name, port](const QHostInfo& info) {
            if (m_lookupName != name || m_lookup != Lookup::kPending) {
                return;
            }
            m_lookupId = -1;
            const auto addresses = info.addresses();
            // An IPv4 address first: it works from IPv4 and dual-stack sockets alike.
            const auto v4 = std::find_if(addresses.begin(), addresses.end(), [](const auto& a) {
                return a.protocol() == QAbstractSocket::IPv4Protocol;
            });
            const bool hadWaiting = !m_waiting.empty();
            if (info.error() == QHostInfo::NoError && !addresses.isEmpty()) {
                m_lookup = Lookup::kDone;
                m_lookupAddress = v4 != addresses.end() ? *v4 : addresses.front();
                for (const QByteArray& datagram : m_waiting) {
                    Write(datagram, m_lookupAddress, port);
                }
            } else {
                m_lookup = Lookup::kFailed;
            }
            DropWaiting();
            if (hadWaiting) {
                m_events.progress();
            }
        });
}

void UdpEndpoint::DropWaiting()
{
    m_waiting.clear();
    m_waitingBytes = 0;
}

}  // namespace velkon
