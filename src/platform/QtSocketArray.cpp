#include "QtSocketArray.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LocalAddresses.h"

namespace velkon {

namespace {

constexpr int kErrPermission = 10013;
constexpr int kErrInvalidArgument = 10022;
constexpr int kErrTooManyFiles = 10024;
constexpr int kErrDestinationRequired = 10039;
constexpr int kErrMessageTooLong = 10040;
constexpr int kErrFamilyNotSupported = 10047;
constexpr int kErrNoBuffers = 10055;
constexpr int kErrNotConnected = 10057;
constexpr int kErrHostDown = 10064;
constexpr int kErrSystemCall = 10107;
// Numbers of the classic socket control for calls it cannot carry out.
constexpr int kErrNoSuchElement = 340;
constexpr int kErrAlreadyLoaded = 360;
constexpr int kErrInvalidValue = 380;
constexpr int kErrWrongState = 40020;

constexpr std::size_t kChunk = 64 * 1024;
// Bytes read per notification at most, so that one busy peer cannot starve
// the event loop.
constexpr std::size_t kDiscardPerWake = 1024 * 1024;
constexpr int kAcceptsPerWake = 64;
constexpr int kAcceptRetryMs = 200;

struct Failure {
    int number;
    std::string description;
};

Failure classify(int err)
{
    switch (err) {
        case EADDRINUSE:
            return {kErrAddressInUse, "Address in use"};
        case EADDRNOTAVAIL:
            return {kErrAddressNotAvailable, "Address not available"};
        case ENETDOWN:
            return {kErrNetworkDown, "Network is down"};
        case ENETUNREACH:
            return {kErrNetworkUnreachable, "Network is unreachable"};
        case ECONNABORTED:
            return {kErrConnectionAborted, "Connection aborted"};
        case ECONNRESET:
        case EPIPE:
            return {kErrConnectionReset, "Connection reset by peer"};
        case ETIMEDOUT:
            return {kErrTimedOut, "Connection timed out"};
        case ECONNREFUSED:
            return {kErrConnectionRefused, "Connection refused"};
        case EHOSTDOWN:
            return {kErrHostDown, "Host is down"};
        case EHOSTUNREACH:
            return {kErrHostUnreachable, "Host unreachable"};
        case EACCES:
        case EPERM:
            return {kErrPermission, "Permission denied"};
        case EINVAL:
            return {kErrInvalidArgument, "Invalid argument"};
        case EMFILE:
        case ENFILE:
            return {kErrTooManyFiles, "Too many open files"};
        case ENOBUFS:
        case ENOMEM:
            return {kErrNoBuffers, "No buffer space available"};
        case EAFNOSUPPORT:
            return {kErrFamilyNotSupported, "Address family not supported"};
        case EMSGSIZE:
            return {kErrMessageTooLong, "Message too long"};
        default:
            return {kErrSystemCall, std::strerror(err)};
    }
}

Failure classify(const QAbstractSocket& socket)
{
    const std::string text = socket.errorString().toStdString();
    switch (socket.error()) {
        // Errors with a system twin read as the system error does.
        case QAbstractSocket::AddressInUseError:
            return classify(EADDRINUSE);
        case QAbstractSocket::SocketAddressNotAvailableError:
            return classify(EADDRNOTAVAIL);
        case QAbstractSocket::SocketAccessError:
            return classify(EACCES);
        case QAbstractSocket::DatagramTooLargeError:
            return classify(EMSGSIZE);
        case QAbstractSocket::ConnectionRefusedError:
            return classify(ECONNREFUSED);
        case QAbstractSocket::SocketResourceError:
            return {kErrNoBuffers, text};
        case QAbstractSocket::NetworkError:
            return {kErrNetworkUnreachable, text};
        case QAbstractSocket::HostNotFoundError:
            return {kErrHostNotFound, "Host not found"};
        case QAbstractSocket::SocketTimeoutError:
            return {kErrTimedOut, "Timed out"};
        case QAbstractSocket::UnsupportedSocketOperationError:
            return {kErrFamilyNotSupported, text};
        default:
            return {kErrSystemCall, text};
    }
}

Result fail(const Failure& f)
{
    return Result::Fail(f.description, f.number);
}

// Shared read buffer of the event loop's thread.
char* scratch()
{
    thread_local std::vector<char> buffer(kChunk);
    return buffer.data();
}

// Byte queue with cheap removal from the front.
class ByteFifo {
public:
    std::size_t size() const { return m_data.size() - m_head; }
    bool empty() const { return size() == 0; }
    const char* data() const { return m_data.data() + m_head; }

    void append(const char* bytes, std::size_t count)
    {
        if (m_head > 0 && m_head >= m_data.size() / 2) {
            m_data.erase(0, m_head);
            m_head = 0;
        }
        m_data.append(bytes, count);
    }

    void consume(std::size_t count)
    {
        m_head += std::min(count, size());
        if (m_head == m_data.size()) {
            clear();
        }
    }

    void clear()
    {
        // A drained burst should not keep its memory.
        if (m_data.capacity() > 4 * kChunk) {
            std::string().swap(m_data);
        } else {
            m_data.clear();
        }
        m_head = 0;
    }

    std::string take()
    {
        std::string rest = m_data.substr(m_head);
        clear();
        return rest;
    }

private:
    std::string m_data;
    std::size_t m_head = 0;
};

std::string addressText(const QHostAddress& address)
{
    if (address.isNull()) {
        return {};
    }
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        return QHostAddress(v4).toString().toStdString();
    }
    return address.toString().toStdString();
}

bool toSockaddr(const QHostAddress& address, int port, sockaddr_storage& storage, socklen_t& length)
{
    std::memset(&storage, 0, sizeof storage);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(static_cast<std::uint16_t>(port));
        sin->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(static_cast<std::uint16_t>(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&sin6->sin6_addr, bytes.c, sizeof bytes.c);
        const QString scope = address.scopeId();
        if (!scope.isEmpty()) {
            bool numeric = false;
            const uint id = scope.toUInt(&numeric);
            sin6->sin6_scope_id = numeric ? id : if_nametoindex(scope.toLocal8Bit().constData());
        }
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

QString trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed();
}

void dropNotifier(QSocketNotifier*& notifier)
{
    if (notifier != nullptr) {
        notifier->setEnabled(false);
        notifier->disconnect();
        notifier->deleteLater();
        notifier = nullptr;
    }
}

void closeDescriptor(int fd)
{
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

struct QtSocketArray::Element {
    int index = 0;
    int state = kSockClosed;
    int protocol = kTcp;
    std::string remoteHost;
    int remotePort = 0;
    int localPort = 0;
    std::string peerIp;
    // Raised by every Close; callbacks of an earlier life compare it.
    std::uint64_t generation = 0;
    bool dataPosted = false;
    bool progressPosted = false;

    // TCP
    int fd = -1;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    ByteFifo in;
    ByteFifo out;
    bool peerClosed = false;
    bool failed = false;
    Failure failure{0, {}};
    bool finished = false;
    std::map<long, int> requests;
    std::vector<QHostAddress> candidates;
    std::size_t nextCandidate = 0;
    int lastConnectErrno = 0;
    int lookupId = -1;

    // UDP
    QUdpSocket* udp = nullptr;
    std::deque<QByteArray> datagrams;
    QHostAddress lastSender;
    int lastSenderPort = 0;
    enum class Lookup { kNone, kPending, kDone, kFailed };
    Lookup lookup = Lookup::kNone;
    QString lookupName;
    QHostAddress lookupAddress;
    std::deque<QByteArray> waiting;
    std::size_t waitingBytes = 0;
};

struct QtSocketArray::Linger {
    int fd = -1;
    ByteFifo out;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer* deadline = nullptr;
    bool peerDone = false;
};

QtSocketArray::QtSocketArray() : m_context(std::make_unique<QObject>())
{
    auto element = std::make_unique<Element>();
    element->index = 0;
    m_elements.emplace(0, std::move(element));
}

QtSocketArray::~QtSocketArray()
{
    for (auto& [index, el] : m_elements) {
        if (el->lookupId >= 0) {
            QHostInfo::abortHostLookup(el->lookupId);
        }
    }
    // The context owns every notifier, socket and timer and is the receiver of
    // every callback: removing it first means nothing fires while the
    // descriptors below are closed.
    m_context.reset();
    for (auto& [index, el] : m_elements) {
        closeDescriptor(el->fd);
        for (auto& [id, fd] : el->requests) {
            closeDescriptor(fd);
        }
    }
    for (auto& [id, lg] : m_lingering) {
        closeDescriptor(lg->fd);
    }
}

QtSocketArray::Element* QtSocketArray::find(int index) const
{
    const auto it = m_elements.find(index);
    return it == m_elements.end() ? nullptr : it->second.get();
}

Result QtSocketArray::loaded(int index, Element*& element) const
{
    element = find(index);
    if (element == nullptr) {
        return Result::Fail("Socket element " + std::to_string(index) + " is not loaded",
                            kErrNoSuchElement);
    }
    return Result::Ok();
}

namespace {

Result wrongState(int state)
{
    return Result::Fail(
        "Invalid operation in the socket's current state (" + std::to_string(state) + ")",
        kErrWrongState);
}

}  // namespace

template <typename Fn>
void QtSocketArray::post(Element& el, Fn fn)
{
    Element* target = &el;
    const std::uint64_t generation = el.generation;
    QMetaObject::invokeMethod(
        m_context.get(),
        [target, generation, fn = std::move(fn)]() mutable {
            if (target->generation == generation) {
                fn(*target);
            }
        },
        Qt::QueuedConnection);
}

void QtSocketArray::postData(Element& el)
{
    if (el.dataPosted) {
        return;
    }
    el.dataPosted = true;
    post(el, [this](Element& e) {
        e.dataPosted = false;
        const int available = BytesAvailable(e.index);
        auto handler = events().dataArrival;
        if (available > 0 && handler) {
            handler(e.index, available);
        }
    });
}

void QtSocketArray::postProgress(Element& el)
{
    if (el.progressPosted) {
        return;
    }
    el.progressPosted = true;
    post(el, [this](Element& e) {
        e.progressPosted = false;
        auto handler = events().sendProgress;
        if (handler) {
            handler(e.index);
        }
    });
}

// ---- Elements and properties

Result QtSocketArray::Load(int index)
{
    if (index < 0 || index > kMaxIndex) {
        return Result::Fail("Socket element index " + std::to_string(index) + " is out of range",
                            kErrNoSuchElement);
    }
    if (find(index) != nullptr) {
        return Result::Fail("Socket element " + std::to_string(index) + " is already loaded",
                            kErrAlreadyLoaded);
    }
    auto element = std::make_unique<Element>();
    element->index = index;
    m_elements.emplace(index, std::move(element));
    return Result::Ok();
}

bool QtSocketArray::IsLoaded(int index) const
{
    return find(index) != nullptr;
}

Result QtSocketArray::SetProtocol(int index, int protocol)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (protocol != kTcp && protocol != kUdp) {
        return Result::Fail("Invalid protocol " + std::to_string(protocol), kErrInvalidValue);
    }
    if (protocol != el->protocol && el->state != kSockClosed) {
        return wrongState(el->state);
    }
    el->protocol = protocol;
    return Result::Ok();
}

int QtSocketArray::Protocol(int index) const
{
    const Element* el = find(index);
    return el ? el->protocol : kTcp;
}

Result QtSocketArray::SetRemoteHost(int index, const std::string& host)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    el->remoteHost = host;
    return Result::Ok();
}

std::string QtSocketArray::RemoteHost(int index) const
{
    const Element* el = find(index);
    return el ? el->remoteHost : std::string();
}

Result QtSocketArray::SetRemotePort(int index, int port)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (port < 0 || port > 65535) {
        return Result::Fail("Invalid port number " + std::to_string(port), kErrInvalidValue);
    }
    el->remotePort = port;
    return Result::Ok();
}

int QtSocketArray::RemotePort(int index) const
{
    const Element* el = find(index);
    return el ? el->remotePort : 0;
}

Result QtSocketArray::SetLocalPort(int index, int port)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (port < 0 || port > 65535) {
        return Result::Fail("Invalid port number " + std::to_string(port), kErrInvalidValue);
    }
    el->localPort = port;
    return Result::Ok();
}

int QtSocketArray::LocalPort(int index) const
{
    const Element* el = find(index);
    return el ? el->localPort : 0;
}

std::string QtSocketArray::LocalIP(int /*index*/) const
{
    return FirstLocalIPv4Address();
}

int QtSocketArray::State(int index) const
{
    const Element* el = find(index);
    return el ? el->state : kSockClosed;
}

std::string QtSocketArray::RemoteHostIP(int index) const
{
    const Element* el = find(index);
    if (el == nullptr) {
        return {};
    }
    return el->protocol == kUdp ? addressText(el->lastSender) : el->peerIp;
}

// ---- Opening

Result QtSocketArray::Connect(int index)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol != kTcp) {
        return Result::Fail("Connect needs the TCP protocol", kErrWrongState);
    }
    if (el->state != kSockClosed) {
        return wrongState(el->state);
    }
    const QString host = trimmed(el->remoteHost);
    if (host.isEmpty()) {
        return Result::Fail("No remote host is set", kErrDestinationRequired);
    }
    if (el->remotePort < 1 || el->remotePort > 65535) {
        return Result::Fail("Invalid remote port " + std::to_string(el->remotePort),
                            kErrAddressNotAvailable);
    }
    el->candidates.clear();
    el->nextCandidate = 0;
    el->lastConnectErrno = 0;

    QHostAddress literal;
    if (literal.setAddress(host)) {
        el->candidates.push_back(literal);
        el->state = kSockConnecting;
        connectNext(*el);
        return Result::Ok();
    }

    el->state = kSockResolvingHost;
    Element* target = el;
    const std::uint64_t generation = el->generation;
    const int id = QHostInfo::lookupHost(
        host, m_context.get(), [this, target, generation, host](const QHostInfo& info) {
            if (target->generation != generation || target->state != kSockResolvingHost) {
                return;
            }
            target->lookupId = -1;
            const auto addresses = info.addresses();
            if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
                connectionFailed(*target, kErrHostNotFound,
                                 "Host not found: " + host.toStdString());
                return;
            }
            target->candidates.assign(addresses.begin(), addresses.end());
            target->state = kSockConnecting;
            connectNext(*target);
        });
    if (el->state == kSockResolvingHost && el->generation == generation) {
        el->lookupId = id;
    }
    return Result::Ok();
}

// Tries the remaining addresses of the host in turn, as a name may stand for
// addresses of which only some accept (::1 and 127.0.0.1 for localhost).
void QtSocketArray::connectNext(Element& el)
{
    while (el.nextCandidate < el.candidates.size()) {
        const QHostAddress address = el.candidates[el.nextCandidate++];
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (!toSockaddr(address, el.remotePort, storage, length)) {
            continue;
        }
        const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            el.lastConnectErrno = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
            becomeConnected(el, fd, true);
            return;
        }
        if (errno == EINPROGRESS || errno == EINTR) {
            el.fd = fd;
            el.writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
            Element* target = &el;
            QObject::connect(el.writeNotifier, &QSocketNotifier::activated, m_context.get(),
                             [this, target] { onConnectWritable(*target); });
            return;
        }
        el.lastConnectErrno = errno;
        ::close(fd);
    }
    const Failure f = classify(el.lastConnectErrno != 0 ? el.lastConnectErrno : ECONNREFUSED);
    connectionFailed(el, f.number, f.description);
}

void QtSocketArray::onConnectWritable(Element& el)
{
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(el.fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) {
        err = errno;
    }
    dropNotifier(el.writeNotifier);
    const int fd = el.fd;
    el.fd = -1;
    if (err == 0) {
        becomeConnected(el, fd, true);
        return;
    }
    ::close(fd);
    el.lastConnectErrno = err;
    connectNext(el);
}

void QtSocketArray::becomeConnected(Element& el, int fd, bool raiseConnect)
{
    el.fd = fd;
    el.state = kSockConnected;
    // Bridged bytes should leave at once rather than wait to fill a segment.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        el.peerIp = addressText(QHostAddress(reinterpret_cast<sockaddr*>(&peer)));
    }

    Element* target = &el;
    el.readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(el.readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this, target] { onReadable(*target); });
    el.writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
    el.writeNotifier->setEnabled(false);
    QObject::connect(el.writeNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this, target] { onWritable(*target); });

    if (raiseConnect) {
        post(el, [this](Element& e) {
            auto handler = events().connect;
            if (handler) {
                handler(e.index);
            }
        });
    }
}

Result QtSocketArray::Listen(int index)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol != kTcp) {
        return Result::Fail("Listen needs the TCP protocol", kErrWrongState);
    }
    if (el->state == kSockClosed) {
        if (Result r = bindTcp(*el, el->localPort, std::string()); !r) {
            return r;
        }
    } else if (el->state != kSockOpen || el->fd < 0) {
        return wrongState(el->state);
    }
    if (::listen(el->fd, SOMAXCONN) != 0) {
        return fail(classify(errno));
    }
    el->state = kSockListening;
    Element* target = el;
    el->readNotifier = new QSocketNotifier(el->fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(el->readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this, target] { onAcceptable(*target); });
    return Result::Ok();
}

Result QtSocketArray::Bind(int index, int port, const std::string& localAddress)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->state != kSockClosed) {
        return wrongState(el->state);
    }
    if (port < 0 || port > 65535) {
        return Result::Fail("Invalid port number " + std::to_string(port), kErrInvalidArgument);
    }
    return el->protocol == kUdp ? bindUdp(*el, port, localAddress)
                                : bindTcp(*el, port, localAddress);
}

Result QtSocketArray::bindTcp(Element& el, int port, const std::string& localAddress)
{
    const QString text = trimmed(localAddress);
    sockaddr_storage storage{};
    socklen_t length = 0;
    int fd = -1;
    if (text.isEmpty()) {
        // Any address: one dual-stack socket takes IPv4 and IPv6 clients.
        fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            toSockaddr(QHostAddress::AnyIPv6, port, storage, length);
        } else {
            toSockaddr(QHostAddress::AnyIPv4, port, storage, length);
        }
    } else {
        QHostAddress address;
        if (!address.setAddress(text) || !toSockaddr(address, port, storage, length)) {
            return Result::Fail("Address not available: " + localAddress, kErrAddressNotAvailable);
        }
    }
    if (fd < 0) {
        fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return fail(classify(errno));
        }
    }
    // A server restarted at once must get its port back from connections
    // still in TIME_WAIT; a port held by a live socket is still refused.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(classify(err));
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    el.localPort = port;
    // Port 0 took a free port: report the real one.
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) {
        el.localPort =
            ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    }
    el.fd = fd;
    el.state = kSockOpen;
    return Result::Ok();
}

void QtSocketArray::onAcceptable(Element& el)
{
    for (int i = 0; i < kAcceptsPerWake && el.fd >= 0; ++i) {
        const int fd = ::accept4(el.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EINTR || err == ECONNABORTED || err == EPROTO) {
                continue;
            }
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                // Out of descriptors: pause instead of spinning on a ready listener.
                el.readNotifier->setEnabled(false);
                Element* target = &el;
                const std::uint64_t generation = el.generation;
                QTimer::singleShot(kAcceptRetryMs, m_context.get(), [target, generation] {
                    if (target->generation == generation && target->readNotifier != nullptr) {
                        target->readNotifier->setEnabled(true);
                    }
                });
            }
            return;
        }
        const long id = ++m_nextRequestId;
        el.requests.emplace(id, fd);
        if (el.requests.size() > kMaxPendingRequests) {
            ::close(el.requests.begin()->second);
            el.requests.erase(el.requests.begin());
        }
        post(el, [this, id](Element& e) {
            auto handler = events().connectionRequest;
            if (e.requests.count(id) != 0 && handler) {
                handler(e.index, id);
            }
        });
    }
}

Result QtSocketArray::Accept(int index, long requestId)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol != kTcp) {
        return Result::Fail("Accept needs the TCP protocol", kErrWrongState);
    }
    if (el->state != kSockClosed) {
        return wrongState(el->state);
    }
    for (auto& [listenerIndex, listener] : m_elements) {
        const auto it = listener->requests.find(requestId);
        if (it != listener->requests.end()) {
            const int fd = it->second;
            listener->requests.erase(it);
            becomeConnected(*el, fd, false);
            return Result::Ok();
        }
    }
    return Result::Fail("No connection request " + std::to_string(requestId) + " is waiting",
                        kErrInvalidArgument);
}

Result QtSocketArray::Reject(int index, long requestId)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    const auto it = el->requests.find(requestId);
    if (it == el->requests.end()) {
        return Result::Fail("No connection request " + std::to_string(requestId) + " is waiting",
                            kErrInvalidArgument);
    }
    closeDescriptor(it->second);
    el->requests.erase(it);
    return Result::Ok();
}

// ---- Connected TCP

void QtSocketArray::onReadable(Element& el)
{
    bool arrived = false;
    for (;;) {
        if (el.in.size() >= static_cast<std::size_t>(kReceiveLimit)) {
            // Full: the kernel keeps the rest and TCP slows the sender.
            el.readNotifier->setEnabled(false);
            break;
        }
        const std::size_t room = kReceiveLimit - el.in.size();
        const ssize_t n = ::recv(el.fd, scratch(), std::min(room, kChunk), 0);
        if (n > 0) {
            el.in.append(scratch(), static_cast<std::size_t>(n));
            arrived = true;
            continue;
        }
        if (n == 0) {
            el.peerClosed = true;
            dropNotifier(el.readNotifier);
            break;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == EAGAIN || err == EWOULDBLOCK) {
            break;
        }
        if (arrived) {
            postData(el);
        }
        const Failure f = classify(err);
        connectionFailed(el, f.number, f.description);
        return;
    }
    if (arrived) {
        postData(el);
    }
    finishIfDrained(el);
}

void QtSocketArray::onWritable(Element& el)
{
    if (flushOutput(el)) {
        postProgress(el);
    }
}

// Hands queued bytes to the kernel; true when some were taken.
bool QtSocketArray::flushOutput(Element& el)
{
    std::size_t written = 0;
    while (!el.out.empty() && el.fd >= 0) {
        const ssize_t n = ::send(el.fd, el.out.data(), el.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            el.out.consume(static_cast<std::size_t>(n));
            written += static_cast<std::size_t>(n);
            continue;
        }
        const int err = errno;
        if (n < 0 && err == EINTR) {
            continue;
        }
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
            break;
        }
        const Failure f = classify(n < 0 ? err : EPIPE);
        connectionFailed(el, f.number, f.description);
        return written > 0;
    }
    if (el.writeNotifier != nullptr) {
        el.writeNotifier->setEnabled(!el.out.empty());
    }
    return written > 0;
}

void QtSocketArray::connectionFailed(Element& el, int number, const std::string& description)
{
    if (el.failed) {
        return;
    }
    releaseSocket(el);
    el.out.clear();
    el.failed = true;
    el.failure = Failure{number, description};
    finishIfDrained(el);
}

// The close or error event of a connection comes after the session has taken
// every byte that arrived before it.
void QtSocketArray::finishIfDrained(Element& el)
{
    if (el.finished || !(el.failed || el.peerClosed) || !el.in.empty()) {
        return;
    }
    el.finished = true;
    if (el.failed) {
        el.state = kSockError;
        post(el, [this](Element& e) {
            auto handler = events().error;
            if (handler) {
                handler(e.index, e.failure.number, e.failure.description);
            }
        });
    } else {
        el.state = kSockClosing;
        post(el, [this](Element& e) {
            auto handler = events().close;
            if (handler) {
                handler(e.index);
            }
        });
    }
}

void QtSocketArray::releaseSocket(Element& el)
{
    dropNotifier(el.readNotifier);
    dropNotifier(el.writeNotifier);
    closeDescriptor(el.fd);
    el.fd = -1;
}

// ---- Closing

Result QtSocketArray::Close(int index)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    ++el->generation;
    el->dataPosted = false;
    el->progressPosted = false;
    if (el->lookupId >= 0) {
        QHostInfo::abortHostLookup(el->lookupId);
        el->lookupId = -1;
    }
    for (auto& [id, fd] : el->requests) {
        closeDescriptor(fd);
    }
    el->requests.clear();

    if (el->fd >= 0 && (el->state == kSockConnected || el->state == kSockClosing)) {
        const int fd = el->fd;
        dropNotifier(el->readNotifier);
        dropNotifier(el->writeNotifier);
        el->fd = -1;
        linger(fd, el->out.take());
    }
    releaseSocket(*el);

    if (el->udp != nullptr) {
        el->udp->disconnect();
        el->udp->close();
        el->udp->deleteLater();
        el->udp = nullptr;
    }
    el->in.clear();
    el->out.clear();
    el->peerClosed = false;
    el->failed = false;
    el->failure = Failure{0, {}};
    el->finished = false;
    el->candidates.clear();
    el->nextCandidate = 0;
    el->lastConnectErrno = 0;
    el->peerIp.clear();
    el->datagrams.clear();
    el->lastSender = QHostAddress();
    el->lastSenderPort = 0;
    el->lookup = Element::Lookup::kNone;
    el->lookupName.clear();
    el->lookupAddress = QHostAddress();
    el->waiting.clear();
    el->waitingBytes = 0;
    el->state = kSockClosed;
    return Result::Ok();
}

// Sends what the session queued before closing, then shuts the connection
// down in order and discards whatever the peer still sends, all within
// kCloseFlushMs. Closing at once with unread input would reset the
// connection and could destroy bytes the peer has not read yet.
void QtSocketArray::linger(int fd, std::string pendingOutput)
{
    const std::uint64_t id = m_nextLinger++;
    auto lg = std::make_unique<Linger>();
    lg->fd = fd;
    lg->out.append(pendingOutput.data(), pendingOutput.size());
    if (lg->out.empty()) {
        ::shutdown(fd, SHUT_WR);
    }

    lg->readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(lg->readNotifier, &QSocketNotifier::activated, m_context.get(), [this, id] {
        const auto it = m_lingering.find(id);
        if (it == m_lingering.end()) {
            return;
        }
        std::size_t discarded = 0;
        while (discarded < kDiscardPerWake) {
            const ssize_t n = ::recv(it->second->fd, scratch(), kChunk, 0);
            if (n > 0) {
                discarded += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            }
            Linger& l = *it->second;
            if (n == 0 && !l.out.empty()) {
                // A half-closed peer may still read what is left to send.
                l.peerDone = true;
                dropNotifier(l.readNotifier);
                return;
            }
            endLinger(id);  // the peer closed too, or the connection broke
            return;
        }
    });

    if (!lg->out.empty()) {
        lg->writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
        QObject::connect(
            lg->writeNotifier, &QSocketNotifier::activated, m_context.get(), [this, id] {
                const auto it = m_lingering.find(id);
                if (it == m_lingering.end()) {
                    return;
                }
                Linger& l = *it->second;
                while (!l.out.empty()) {
                    const ssize_t n = ::send(l.fd, l.out.data(), l.out.size(), MSG_NOSIGNAL);
                    if (n > 0) {
                        l.out.consume(static_cast<std::size_t>(n));
                        continue;
                    }
                    if (n < 0 && errno == EINTR) {
                        continue;
                    }
                    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                        return;
                    }
                    endLinger(id);
                    return;
                }
                ::shutdown(l.fd, SHUT_WR);
                if (l.peerDone) {
                    endLinger(id);
                    return;
                }
                l.writeNotifier->setEnabled(false);
            });
    }

    lg->deadline = new QTimer(m_context.get());
    lg->deadline->setSingleShot(true);
    QObject::connect(lg->deadline, &QTimer::timeout, m_context.get(),
                     [this, id] { endLinger(id); });
    lg->deadline->start(kCloseFlushMs);
    m_lingering.emplace(id, std::move(lg));
}

void QtSocketArray::endLinger(std::uint64_t id)
{
    const auto it = m_lingering.find(id);
    if (it == m_lingering.end()) {
        return;
    }
    Linger& lg = *it->second;
    dropNotifier(lg.readNotifier);
    dropNotifier(lg.writeNotifier);
    lg.deadline->stop();
    lg.deadline->disconnect();
    lg.deadline->deleteLater();
    closeDescriptor(lg.fd);
    m_lingering.erase(it);
}

// ---- Data

Result QtSocketArray::SendData(int index, const Bytes& data)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol == kUdp) {
        return sendDatagram(*el, data);
    }
    if (el->state != kSockConnected && el->state != kSockClosing) {
        return Result::Fail("Not connected", kErrNotConnected);
    }
    if (data.empty() || el->fd < 0 || el->failed) {
        // A broken connection drops it; its error event is on the way.
        return Result::Ok();
    }
    const char* bytes = reinterpret_cast<const char*>(data.data());
    std::size_t offset = 0;
    if (el->out.empty()) {
        // Straight to the kernel when nothing waits before it.
        while (offset < data.size()) {
            const ssize_t n = ::send(el->fd, bytes + offset, data.size() - offset, MSG_NOSIGNAL);
            if (n > 0) {
                offset += static_cast<std::size_t>(n);
                continue;
            }
            const int err = errno;
            if (n < 0 && err == EINTR) {
                continue;
            }
            if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
                break;
            }
            const Failure f = classify(n < 0 ? err : EPIPE);
            connectionFailed(*el, f.number, f.description);
            return Result::Ok();
        }
    }
    if (offset < data.size()) {
        el->out.append(bytes + offset, data.size() - offset);
        el->writeNotifier->setEnabled(true);
    }
    return Result::Ok();
}

Result QtSocketArray::GetData(int index, Bytes& out, int maxBytes)
{
    out.clear();
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol == kUdp) {
        if (!el->datagrams.empty()) {
            const QByteArray& datagram = el->datagrams.front();
            out.assign(datagram.begin(), datagram.end());
            el->datagrams.pop_front();
        }
        return Result::Ok();
    }
    const std::size_t count =
        maxBytes < 0 ? el->in.size() : std::min(el->in.size(), static_cast<std::size_t>(maxBytes));
    if (count == 0) {
        return Result::Ok();
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(el->in.data());
    out.assign(bytes, bytes + count);
    el->in.consume(count);
    if (el->readNotifier != nullptr && !el->readNotifier->isEnabled() &&
        el->in.size() < static_cast<std::size_t>(kReceiveLimit)) {
        el->readNotifier->setEnabled(true);
    }
    if (!el->in.empty()) {
        postData(*el);
    }
    finishIfDrained(*el);
    return Result::Ok();
}

int QtSocketArray::BytesAvailable(int index) const
{
    const Element* el = find(index);
    if (el == nullptr) {
        return 0;
    }
    if (el->protocol == kUdp) {
        return el->datagrams.empty() ? 0 : static_cast<int>(el->datagrams.front().size());
    }
    return static_cast<int>(el->in.size());
}

int QtSocketArray::BytesToWrite(int index) const
{
    const Element* el = find(index);
    if (el == nullptr) {
        return 0;
    }
    const std::size_t queued = el->protocol == kUdp ? el->waitingBytes : el->out.size();
    return static_cast<int>(std::min<std::size_t>(queued, 0x7fffffff));
}

// ---- UDP

Result QtSocketArray::bindUdp(Element& el, int port, const std::string& localAddress)
{
    const QString text = trimmed(localAddress);
    QHostAddress address = QHostAddress::Any;
    if (!text.isEmpty() && !address.setAddress(text)) {
        return Result::Fail("Address not available: " + localAddress, kErrAddressNotAvailable);
    }
    auto* socket = new QUdpSocket(m_context.get());
    // Without address sharing, so that a port in use is reported as such.
    if (!socket->bind(address, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        const Failure f = classify(*socket);
        delete socket;
        return fail(f);
    }
    el.udp = socket;
    el.localPort = socket->localPort();
    el.state = kSockOpen;
    Element* target = &el;
    QObject::connect(socket, &QUdpSocket::readyRead, m_context.get(),
                     [this, target] { onDatagrams(*target); });
    return Result::Ok();
}

void QtSocketArray::onDatagrams(Element& el)
{
    while (el.udp != nullptr && el.udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = el.udp->receiveDatagram();
        if (!datagram.isValid()) {
            break;
        }
        el.lastSender = datagram.senderAddress();
        el.lastSenderPort = datagram.senderPort();
        if (datagram.data().isEmpty() || el.datagrams.size() >= kMaxDatagrams) {
            continue;
        }
        el.datagrams.push_back(datagram.data());
        post(el, [this](Element& e) {
            auto handler = events().dataArrival;
            if (!e.datagrams.empty() && handler) {
                handler(e.index, static_cast<int>(e.datagrams.front().size()));
            }
        });
    }
}

Result QtSocketArray::sendDatagram(Element& el, const Bytes& data)
{
    if (el.udp == nullptr || el.state != kSockOpen) {
        return wrongState(el.state);
    }
    if (data.empty()) {
        return Result::Ok();
    }
    const QByteArray payload(reinterpret_cast<const char*>(data.data()),
                             static_cast<qsizetype>(data.size()));
    const auto write = [&el, &payload](const QHostAddress& address, int port) -> Result {
        if (el.udp->writeDatagram(payload, address, static_cast<quint16>(port)) < 0) {
            return fail(classify(*el.udp));
        }
        return Result::Ok();
    };

    const QString host = trimmed(el.remoteHost);
    if (host.isEmpty()) {
        if (el.lastSender.isNull()) {
            return Result::Ok();  // no datagram has come yet: nowhere to send
        }
        return write(el.lastSender, el.remotePort > 0 ? el.remotePort : el.lastSenderPort);
    }
    if (el.remotePort < 1 || el.remotePort > 65535) {
        return Result::Fail("Invalid remote port " + std::to_string(el.remotePort),
                            kErrAddressNotAvailable);
    }
    QHostAddress literal;
    if (literal.setAddress(host)) {
        return write(literal, el.remotePort);
    }

    if (el.lookupName != host) {
        if (el.lookupId >= 0) {
            QHostInfo::abortHostLookup(el.lookupId);
            el.lookupId = -1;
        }
        el.lookup = Element::Lookup::kNone;
        el.lookupName = host;
        el.waiting.clear();
        el.waitingBytes = 0;
    }
    switch (el.lookup) {
        case Element::Lookup::kDone:
            return write(el.lookupAddress, el.remotePort);
        case Element::Lookup::kFailed:
            startUdpLookup(el);
            return Result::Fail("Host not found: " + host.toStdString(), kErrHostNotFound);
        case Element::Lookup::kNone:
            startUdpLookup(el);
            [[fallthrough]];
        case Element::Lookup::kPending:
            if (el.waiting.size() < kMaxWaitingDatagrams) {
                el.waiting.push_back(payload);
                el.waitingBytes += static_cast<std::size_t>(payload.size());
            }
            return Result::Ok();
    }
    return Result::Ok();
}

void QtSocketArray::startUdpLookup(Element& el)
{
    el.lookup = Element::Lookup::kPending;
    Element* target = &el;
    const std::uint64_t generation = el.generation;
    const QString name = el.lookupName;
    const int id = QHostInfo::lookupHost(
        name, m_context.get(), [this, target, generation, name](const QHostInfo& info) {
            if (target->generation != generation || target->lookupName != name ||
                target->lookup != Element::Lookup::kPending) {
                return;
            }
            target->lookupId = -1;
            const auto addresses = info.addresses();
            // An IPv4 address first: it works from IPv4 and dual-stack sockets alike.
            const auto v4 = std::find_if(addresses.begin(), addresses.end(), [](const auto& a) {
                return a.protocol() == QAbstractSocket::IPv4Protocol;
            });
            const bool found = info.error() == QHostInfo::NoError && !addresses.isEmpty();
            const bool hadWaiting = !target->waiting.empty();
            if (found) {
                target->lookup = Element::Lookup::kDone;
                target->lookupAddress = v4 != addresses.end() ? *v4 : addresses.front();
                for (const QByteArray& datagram : target->waiting) {
                    target->udp->writeDatagram(datagram, target->lookupAddress,
                                               static_cast<quint16>(target->remotePort));
                }
            } else {
                target->lookup = Element::Lookup::kFailed;
            }
            target->waiting.clear();
            target->waitingBytes = 0;
            if (hadWaiting) {
                postProgress(*target);
            }
        });
    if (el.lookup == Element::Lookup::kPending && el.generation == generation) {
        el.lookupId = id;
    }
}

}  // namespace velkon
