#include "network/QtSocketArray.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <QObject>

#include "network/LocalAddresses.h"
#include "network/SocketAddress.h"
#include "network/SocketErrors.h"
#include "network/SocketIo.h"
#include "network/TcpConnector.h"
#include "network/TlsContext.h"
#include "network/TlsErrors.h"
#include "network/TlsHandshake.h"
#include "network/TlsStream.h"

namespace velkon {

struct QtSocketArray::Element {
    int index = 0;
    int state = kSockClosed;
    int protocol = kTcp;
    std::string remoteHost;
    int remotePort = 0;
    int localPort = 0;
    // Kept over Close: it belongs to the element's setup, like its port.
    std::function<bool(const std::string&)> peerFilter;
    // Raised by every Close; events of an earlier life compare it.
    std::uint64_t generation = 0;
    bool dataPosted = false;
    bool progressPosted = false;
    // Events of this life still waiting in the event loop.
    int pending = 0;

    // At most one of these lives at a time; an idle element holds none.
    std::unique_ptr<TcpConnector> connector;
    std::unique_ptr<TcpConnection> connection;
    std::unique_ptr<TcpListener> listener;
    std::unique_ptr<UdpEndpoint> udp;
    // A client's TLS handshake after its connect.
    std::unique_ptr<TlsHandshake> handshake;
    // Set by SetTls; kept across Close.
    std::shared_ptr<const TlsContext> tls;
};

QtSocketArray::QtSocketArray(std::chrono::milliseconds connectTimeout)
    : m_connectTimeout(connectTimeout), m_context(std::make_unique<QObject>())
{
    auto element = std::make_unique<Element>();
    element->index = 0;
    m_elements.emplace(0, std::move(element));
}

QtSocketArray::~QtSocketArray()
{
    // Events still queued go first, so that none reaches a destroyed element.
    m_context.reset();
    m_elements.clear();
    m_retired.clear();
    m_retiredHandshakes.clear();
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

// ---- Events

template <typename Fn>
void QtSocketArray::post(Element& el, Fn fn)
{
    Element* target = &el;
    const std::uint64_t generation = el.generation;
    ++el.pending;
    QMetaObject::invokeMethod(
        m_context.get(),
        [target, generation, fn = std::move(fn)]() mutable {
            if (target->generation == generation) {
                --target->pending;
                fn(*target);
            }
        },
        Qt::QueuedConnection);
}

void QtSocketArray::deliverData(Element& el)
{
    // Straight from the notification, unless earlier events still wait:
    // data never overtakes a connect.
    if (el.pending > 0) {
        postData(el);
        return;
    }
    const int available = BytesAvailable(el.index);
    auto handler = events().dataArrival;
    if (available > 0 && handler) {
        handler(el.index, available);
    }
}

void QtSocketArray::deliverProgress(Element& el)
{
    if (el.pending > 0) {
        postProgress(el);
        return;
    }
    auto handler = events().sendProgress;
    if (handler) {
        handler(el.index);
    }
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

void QtSocketArray::postError(Element& el, const SocketFailure& failure)
{
    el.state = kSockError;
    post(el, [this, failure](Element& e) {
        auto handler = events().error;
        if (handler) {
            handler(e.index, failure.number, failure.description);
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
        return WrongState(el->state);
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
    if (el == nullptr)
        return 0;
    // An accepted connection was never given a remote port: its peer's.
    if (el->remotePort == 0 && el->connection)
        return el->connection->PeerPort();
    return el->remotePort;
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
    if (el == nullptr) {
        return kSockClosed;
    }
    if (el->state == kSockConnecting && el->connector && el->connector->Resolving()) {
        return kSockResolvingHost;
    }
    return el->state;
}

std::string QtSocketArray::RemoteHostIP(int index) const
{
    const Element* el = find(index);
    if (el == nullptr) {
        return {};
    }
    if (el->udp) {
        return el->udp->LatestSender();
    }
    return el->connection ? el->connection->PeerAddress() : std::string();
}

// ---- TLS

Result QtSocketArray::SetTls(int index, const TlsOptions& options)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    el->tls.reset();
    if (!options.enabled) {
        return Result::Ok();
    }
    if (el->protocol != kTcp) {
        return Result::Fail("TLS needs the TCP protocol", kErrWrongState);
    }
    return TlsContext::Load(options, el->tls);
}

void QtSocketArray::startHandshake(Element& el, int fd)
{
    Element* target = &el;
    el.handshake = std::make_unique<TlsHandshake>(
        fd, *el.tls, kHandshakeTimeout,
        [this, target](int done, std::unique_ptr<TlsStream> tls, const std::string& failure) {
            Element& e = *target;
            m_retiredHandshakes.push_back(std::move(e.handshake));
            QMetaObject::invokeMethod(
                m_context.get(), [this] { m_retiredHandshakes.clear(); }, Qt::QueuedConnection);
            if (done < 0) {
                postError(e, TlsFailure(failure));
                return;
            }
            startConnection(e, done, std::move(tls));
            post(e, [this](Element& connected) {
                auto handler = events().connect;
                if (handler) {
                    handler(connected.index);
                }
            });
        });
    el.handshake->Start();
}

// ---- Connecting

Result QtSocketArray::Connect(int index)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol != kTcp) {
        return Result::Fail("Connect needs the TCP protocol", kErrWrongState);
    }
    if (el->state == kSockConnecting) {
        return Result::Fail("A connection attempt is already in progress", kErrAlreadyInProgress);
    }
    if (el->state == kSockConnected) {
        return Result::Fail("The socket is already connected", kErrAlreadyConnected);
    }
    if (el->state != kSockClosed) {
        return WrongState(el->state);
    }
    const QString host = HostText(el->remoteHost);
    if (host.isEmpty()) {
        return Result::Fail("No remote host is set", kErrDestinationRequired);
    }
    if (el->remotePort < 1 || el->remotePort > 65535) {
        return Result::Fail("Invalid remote port " + std::to_string(el->remotePort),
                            kErrAddressNotAvailable);
    }
    el->state = kSockConnecting;
    Element* target = el;
    el->connector = std::make_unique<TcpConnector>(
        m_connectTimeout, [this, target](int fd, const SocketFailure& failure) {
            onConnectDone(*target, fd, failure);
        });
    // May report at once; the connector stays alive until it is retired.
    el->connector->Start(host, el->remotePort);
    return Result::Ok();
}

void QtSocketArray::onConnectDone(Element& el, int fd, const SocketFailure& failure)
{
    m_retired.push_back(std::move(el.connector));
    QMetaObject::invokeMethod(
        m_context.get(), [this] { m_retired.clear(); }, Qt::QueuedConnection);
    if (fd < 0) {
        postError(el, failure);
        return;
    }
    if (el.tls) {
        startHandshake(el, fd);
        return;
    }
    startConnection(el, fd);
    post(el, [this](Element& e) {
        auto handler = events().connect;
        if (handler) {
            handler(e.index);
        }
    });
}

void QtSocketArray::startConnection(Element& el, int fd, std::unique_ptr<TlsStream> tls)
{
    Element* target = &el;
    TcpConnection::Events reports;
    reports.arrived = [this, target] { deliverData(*target); };
    reports.progress = [this, target] { deliverProgress(*target); };
    reports.ended = [this, target] { onConnectionEnded(*target); };
    el.connection = std::make_unique<TcpConnection>(fd, std::move(reports), std::move(tls));
    el.state = kSockConnected;
}

void QtSocketArray::onConnectionEnded(Element& el)
{
    if (el.connection->Failed()) {
        postError(el, el.connection->Failure());
        return;
    }
    el.state = kSockClosing;
    post(el, [this](Element& e) {
        auto handler = events().close;
        if (handler) {
            handler(e.index);
        }
    });
}

// ---- Serving

TcpListener& QtSocketArray::makeListener(Element& el)
{
    Element* target = &el;
    TcpListener::Events reports;
    reports.nextId = [this] { return ++m_nextRequestId; };
    reports.request = [this, target](long id) {
        post(*target, [this, id](Element& e) {
            auto handler = events().connectionRequest;
            if (e.listener && e.listener->HasRequest(id) && handler) {
                handler(e.index, id);
            }
        });
    };
    reports.refused = [this, target](const std::string& address, const std::string& reason) {
        postRefused(*target, address, reason);
    };
    el.listener = std::make_unique<TcpListener>(std::move(reports));
    el.listener->SetPeerFilter(el.peerFilter);
    return *el.listener;
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
        makeListener(*el);
    } else if (el->state != kSockOpen || !el->listener) {
        return WrongState(el->state);
    }
    el->listener->SetTls(el->tls);
    if (Result r = el->listener->Listen(el->localPort); !r) {
        if (el->state == kSockClosed) {
            el->listener.reset();
        }
        return r;
    }
    el->localPort = el->listener->LocalPort();
    el->state = kSockListening;
    return Result::Ok();
}

Result QtSocketArray::Bind(int index, int port, const std::string& localAddress)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->state != kSockClosed) {
        return WrongState(el->state);
    }
    if (port < 0 || port > 65535) {
        return Result::Fail("Invalid port number " + std::to_string(port), kErrInvalidArgument);
    }
    Result r;
    if (el->protocol == kUdp) {
        r = makeUdp(*el).Bind(port, localAddress);
        if (r) {
            el->localPort = el->udp->LocalPort();
        } else {
            el->udp.reset();
        }
    } else {
        r = makeListener(*el).Bind(port, localAddress);
        if (r) {
            el->localPort = el->listener->LocalPort();
        } else {
            el->listener.reset();
        }
    }
    if (r) {
        el->state = kSockOpen;
    }
    return r;
}

TcpListener* QtSocketArray::listenerWith(long requestId, int preferredIndex) const
{
    const Element* preferred = find(preferredIndex);
    if (preferred && preferred->listener && preferred->listener->HasRequest(requestId)) {
        return preferred->listener.get();
    }
    for (const auto& [index, el] : m_elements) {
        if (el->listener && el->listener->HasRequest(requestId)) {
            return el->listener.get();
        }
    }
    return nullptr;
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
        return WrongState(el->state);
    }
    TcpListener* listener = listenerWith(requestId, index);
    if (listener == nullptr) {
        return Result::Fail("No connection request " + std::to_string(requestId) + " is waiting",
                            kErrInvalidArgument);
    }
    TcpListener::Taken taken = listener->Take(requestId);
    startConnection(*el, taken.fd, std::move(taken.tls));
    return Result::Ok();
}

Result QtSocketArray::Reject(int index, long requestId)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    TcpListener* listener = listenerWith(requestId, index);
    if (listener == nullptr) {
        return Result::Fail("No connection request " + std::to_string(requestId) + " is waiting",
                            kErrInvalidArgument);
    }
    listener->Reject(requestId);
    return Result::Ok();
}

void QtSocketArray::postRefused(Element& el, const std::string& address, const std::string& reason)
{
    post(el, [this, address, reason](Element& e) {
        auto handler = events().refused;
        if (handler) {
            handler(e.index, address, reason);
        }
    });
}

Result QtSocketArray::SetPeerFilter(int index,
                                    std::function<bool(const std::string& address)> allowed)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    el->peerFilter = std::move(allowed);
    if (el->listener) {
        el->listener->SetPeerFilter(el->peerFilter);
    }
    if (el->udp) {
        el->udp->SetPeerFilter(el->peerFilter);
    }
    return Result::Ok();
}

// ---- Closing

Result QtSocketArray::Close(int index)
{
    return closeElement(index, false);
}

Result QtSocketArray::Abort(int index)
{
    return closeElement(index, true);
}

int QtSocketArray::ClosingConnections() const
{
    return static_cast<int>(m_linger.Count());
}

std::int64_t QtSocketArray::ResetClosing()
{
    return m_linger.ResetAll();
}

Result QtSocketArray::closeElement(int index, bool reset)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    ++el->generation;
    el->dataPosted = false;
    el->progressPosted = false;
    el->pending = 0;
    el->connector.reset();
    el->handshake.reset();
    if (el->connection) {
        std::string unsent;
        int fd = el->connection->Release(unsent);
        if (reset) {
            ResetDescriptor(fd);
        } else if (fd >= 0) {
            m_linger.Add(fd, std::move(unsent));
        }
        el->connection.reset();
    }
    el->listener.reset();
    el->udp.reset();
    el->state = kSockClosed;
    return Result::Ok();
}

// ---- Data

Result QtSocketArray::SendData(int index, const Bytes& data)
{
    return Send(index, data.data(), data.size());
}

Result QtSocketArray::Send(int index, const std::uint8_t* data, std::size_t size)
{
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->protocol == kUdp) {
        if (!el->udp || el->state != kSockOpen) {
            return WrongState(el->state);
        }
        return el->udp->Send(Bytes(data, data + size), el->remoteHost, el->remotePort);
    }
    if (!el->connection || (el->state != kSockConnected && el->state != kSockClosing)) {
        return Result::Fail("Not connected", kErrNotConnected);
    }
    el->connection->Send(reinterpret_cast<const char*>(data), size);
    return Result::Ok();
}

int QtSocketArray::Receive(int index, std::uint8_t* buffer, int maxBytes)
{
    Element* el = find(index);
    if (el == nullptr || !el->connection) {
        Bytes out;
        GetData(index, out, maxBytes);
        std::copy(out.begin(), out.end(), buffer);
        return static_cast<int>(out.size());
    }
    // No new report for what is left: the caller asked for less and comes
    // back when it has room (a report now would only wake the loop).
    return static_cast<int>(
        el->connection->TakeInto(buffer, static_cast<std::size_t>(std::max(maxBytes, 0))));
}

Result QtSocketArray::GetData(int index, Bytes& out, int maxBytes)
{
    out.clear();
    Element* el = nullptr;
    if (Result r = loaded(index, el); !r) {
        return r;
    }
    if (el->udp) {
        el->udp->Take(out);
    } else if (el->connection && el->connection->Available() > 0) {
        el->connection->Take(out, maxBytes < 0 ? std::numeric_limits<std::size_t>::max()
                                               : static_cast<std::size_t>(maxBytes));
        if (el->connection->Available() > 0) {
            postData(*el);
        }
    }
    return Result::Ok();
}

int QtSocketArray::BytesAvailable(int index) const
{
    const Element* el = find(index);
    std::size_t available = 0;
    if (el != nullptr && el->udp) {
        available = el->udp->NextSize();
    } else if (el != nullptr && el->connection) {
        available = el->connection->Available();
    }
    return static_cast<int>(available);
}

int QtSocketArray::BytesToWrite(int index) const
{
    const Element* el = find(index);
    std::size_t queued = 0;
    if (el != nullptr && el->udp) {
        queued = el->udp->WaitingBytes();
    } else if (el != nullptr && el->connection) {
        queued = el->connection->Queued();
    }
    return static_cast<int>(std::min<std::size_t>(queued, 0x7fffffff));
}

// ---- UDP

UdpEndpoint& QtSocketArray::makeUdp(Element& el)
{
    Element* target = &el;
    UdpEndpoint::Events reports;
    // One event per datagram, each naming the size of the oldest one waiting.
    reports.arrived = [this, target] {
        post(*target, [this](Element& e) {
            auto handler = events().dataArrival;
            const int size = BytesAvailable(e.index);
            if (size > 0 && handler) {
                handler(e.index, size);
            }
        });
    };
    reports.progress = [this, target] { postProgress(*target); };
    reports.refused = [this, target](const std::string& address) {
        postRefused(*target, address, kRefusedNotAllowed);
    };
    el.udp = std::make_unique<UdpEndpoint>(std::move(reports));
    el.udp->SetPeerFilter(el.peerFilter);
    return *el.udp;
}

}  // namespace velkon
