#pragma once

#include <functional>
#include <string>

#include <QObject>
#include <QTcpServer>

#include "components/Result.h"

class QTcpSocket;

namespace velkon {

// Answers "GET /metrics" with one page, over HTTP/1.0 and 1.1, one request
// per connection. Our own few lines rather than Qt HTTP Server: the build
// does not have that module, and one GET is all a scraper asks. Requests,
// connections and the time a client may take are bounded, and every call
// returns at once, so a client can neither hold nor slow the bridge.
class MetricsResponder : public QObject {
public:
    using Page = std::function<std::string()>;

    static constexpr qsizetype kMaxRequestBytes = 8 * 1024;
    static constexpr int kMaxConnections = 16;
    static constexpr int kReadTimeoutMs = 5000;

    explicit MetricsResponder(Page page);
    ~MetricsResponder() override;

    // Port 0 takes any free port.
    Result Listen(const std::string& address, int port);
    void Close();
    bool IsListening() const { return m_server.isListening(); }
    // The port listened on (the chosen one when 0 was asked for).
    int Port() const { return m_server.serverPort(); }

private:
    void OnNewConnection();
    void OnReadable(QTcpSocket* socket);
    void Answer(QTcpSocket* socket, const std::string& response);

    Page m_page;
    QTcpServer m_server;
    int m_open = 0;
};

}  // namespace velkon
