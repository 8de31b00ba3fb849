#include "metrics/MetricsResponder.h"

#include <string_view>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace velkon {

namespace {

std::string Response(const char* status, const std::string& body, const char* extra = "")
{
    std::string out = "HTTP/1.1 ";
    out += status;
    out += "\r\nContent-Type: ";
    out += std::string_view(status).starts_with("200") ? "text/plain; version=0.0.4; charset=utf-8"
                                                       : "text/plain; charset=utf-8";
    out += "\r\nContent-Length: " + std::to_string(body.size());
    out += "\r\nConnection: close\r\n";
    out += extra;
    out += "\r\n";
    out += body;
    return out;
}

// The response to a complete request head.
std::string AnswerRequest(std::string_view head, const MetricsResponder::Page& page)
{
    const std::size_t lineEnd = head.find_first_of("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const std::size_t firstGap = line.find(' ');
    const std::size_t secondGap =
        firstGap == std::string_view::npos ? firstGap : line.find(' ', firstGap + 1);
    if (secondGap == std::string_view::npos || !line.substr(secondGap + 1).starts_with("HTTP/1."))
        return Response("400 Bad Request", "bad request\n");
    const std::string_view method = line.substr(0, firstGap);
    std::string_view target = line.substr(firstGap + 1, secondGap - firstGap - 1);
    target = target.substr(0, target.find('?'));
    if (target != "/metrics")
        return Response("404 Not Found", "only /metrics is here\n");
    if (method != "GET")
        return Response("405 Method Not Allowed", "only GET\n", "Allow: GET\r\n");
    return Response("200 OK", page());
}

}  // namespace

MetricsResponder::MetricsResponder(Page page) : m_page(std::move(page))
{
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsResponder::OnNewConnection);
}

MetricsResponder::~MetricsResponder()
{
    Close();
    // The open connections go first, so none of them reports back to a
    // responder that is half gone.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
        delete socket;
    }
}

Result MetricsResponder::Listen(const std::string& address, int port)
{
    Close();
    QHostAddress host;
    if (!host.setAddress(QString::fromStdString(address)))
        return Result::Fail("\"" + address + "\" is not an IP address");
    if (port < 0 || port > 65535)
        return Result::Fail("port " + std::to_string(port) + " is out of range");
    if (!m_server.listen(host, static_cast<quint16>(port)))
        return Result::Fail(m_server.errorString().toStdString());
    return Result::Ok();
}

void MetricsResponder::Close()
{
    m_server.close();
}

void MetricsResponder::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        // A client that is slow, gone or faulty loses its connection.
        auto* timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, socket, &QObject::deleteLater);
        timeout->start(kReadTimeoutMs);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        // Data may have come with the connection.
        OnReadable(socket);
    }
}

void MetricsResponder::OnReadable(QTcpSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray seen = socket->peek(kMaxRequestBytes + 1);
    const qsizetype end = seen.indexOf("\r\n\r\n");
    const qsizetype bareEnd = seen.indexOf("\n\n");
    if (end < 0 && bareEnd < 0) {
        if (seen.size() > kMaxRequestBytes)
            Answer(socket, Response("431 Request Header Fields Too Large", "request too large\n"));
        return;
    }
    Answer(socket, AnswerRequest(std::string_view(seen.constData(), seen.size()), m_page));
}

void MetricsResponder::Answer(QTcpSocket* socket, const std::string& response)
{
    socket->setProperty("answered", true);
    socket->readAll();
    socket->write(response.data(), static_cast<qint64>(response.size()));
    // Sends what is written, then closes.
    socket->disconnectFromHost();
}

}  // namespace velkon
