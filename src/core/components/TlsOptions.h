#pragma once

#include <string>

namespace velkon {

// TLS on a session's TCP connections. The files are PEM; they are read when
// the options are set, so files replaced meanwhile count from the next
// activation on.
struct TlsOptions {
    bool enabled = false;
    // A server needs both; a client presents them only when set.
    std::string certificateFile;
    std::string keyFile;
    // Server: clients must present a certificate signed by it (empty: none
    // asked for). Client: the authority of the server's certificate (empty:
    // the system's trusted store).
    std::string caFile;
    // Client: the name or address the server's certificate must match.
    std::string serverName;
};

}  // namespace velkon
