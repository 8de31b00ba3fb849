#pragma once

#include <memory>
#include <string>

#include "components/Result.h"
#include "components/TlsOptions.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace velkon {

// The TLS set-up of one session activation: its certificate, key and
// authority read and checked once, shared by every connection it makes.
//
// Options without a server name serve (a certificate and a key are needed;
// with an authority, clients must present a certificate it signed);
// with one they connect (the server's certificate must be signed by the
// authority, else by one the system trusts, and match the name or address).
// TLS 1.2 or newer, OpenSSL's default ciphers.
class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Reads the files; fails with the reason when one cannot be used: missing
    // or unreadable, not PEM, a key that does not match its certificate or
    // that group or others may read.
    static Result Load(const TlsOptions& options, std::shared_ptr<const TlsContext>& out);

    bool Serves() const { return m_serverName.empty(); }
    // A connection's TLS on the connected descriptor fd (not taken over),
    // ready for its handshake; nullptr when OpenSSL has no memory for it.
    SSL* NewConnection(int fd) const;

private:
    TlsContext(SSL_CTX* context, std::string serverName);

    SSL_CTX* m_context;
    std::string m_serverName;
};

}  // namespace velkon
