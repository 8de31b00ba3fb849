#include "network/TlsContext.h"

#include <cerrno>
#include <cstdio>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QHostAddress>
#include <QString>

#include <sys/stat.h>

#include "network/TlsErrors.h"

namespace velkon {

namespace {

// A readable regular file; else the reason.
Result CheckReadable(const std::string& what, const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return Result::Fail(TlsFileText(what, path, errno));
    std::fclose(file);
    return Result::Ok();
}

// The private key must be the owner's alone: a key others can read is no
// longer secret, so a bridge that used it would only look secure.
Result CheckPrivate(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Result::Fail(TlsFileText("key", path, errno));
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return Result::Fail("The TLS key file " + path + " may be read by group or others (mode " +
                            mode + "); allow only its owner (chmod 600)");
    }
    return Result::Ok();
}

Result LoadOwnCertificate(SSL_CTX* context, const TlsOptions& options)
{
    if (Result r = CheckReadable("certificate", options.certificateFile); !r)
        return r;
    if (Result r = CheckReadable("key", options.keyFile); !r)
        return r;
    if (Result r = CheckPrivate(options.keyFile); !r)
        return r;
    if (SSL_CTX_use_certificate_chain_file(context, options.certificateFile.c_str()) != 1) {
        return Result::Fail("The TLS certificate file " + options.certificateFile +
                            " cannot be used: " + TlsQueueText("no certificate in it"));
    }
    // OpenSSL checks the key against the certificate as it loads it.
    if (SSL_CTX_use_PrivateKey_file(context, options.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 &&
        ERR_GET_REASON(ERR_peek_last_error()) != X509_R_KEY_VALUES_MISMATCH) {
        return Result::Fail("The TLS key file " + options.keyFile +
                            " cannot be used: " + TlsQueueText("no key in it"));
    }
    if (ERR_peek_error() != 0 || SSL_CTX_check_private_key(context) != 1) {
        ERR_clear_error();
        return Result::Fail("The TLS key " + options.keyFile + " does not match the certificate " +
                            options.certificateFile);
    }
    return Result::Ok();
}

Result LoadAuthority(SSL_CTX* context, const TlsOptions& options, bool serves)
{
    if (options.caFile.empty()) {
        if (serves)
            return Result::Ok();
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            return Result::Fail("The system's trusted certificates cannot be read: " +
                                TlsQueueText("unknown reason"));
        }
        return Result::Ok();
    }
    if (Result r = CheckReadable("authority", options.caFile); !r)
        return r;
    if (SSL_CTX_load_verify_locations(context, options.caFile.c_str(), nullptr) != 1) {
        return Result::Fail("The TLS authority file " + options.caFile +
                            " cannot be used: " + TlsQueueText("no certificate in it"));
    }
    if (serves) {
        // Clients learn whose certificates are wanted.
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(options.caFile.c_str());
        if (names != nullptr)
            SSL_CTX_set_client_CA_list(context, names);
        ERR_clear_error();
    }
    return Result::Ok();
}

}  // namespace

TlsContext::TlsContext(SSL_CTX* context, std::string serverName)
    : m_context(context), m_serverName(std::move(serverName))
{
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_context);
}

Result TlsContext::Load(const TlsOptions& options, std::shared_ptr<const TlsContext>& out)
{
    ERR_clear_error();
    const bool serves = options.serverName.empty();
    if (serves && (options.certificateFile.empty() || options.keyFile.empty()))
        return Result::Fail("A TLS server needs a certificate file and a key file");
    if (options.certificateFile.empty() != options.keyFile.empty())
        return Result::Fail("A TLS certificate needs its key file, and a key its certificate");
    SSL_CTX* context = SSL_CTX_new(TLS_method());
    if (context == nullptr)
        return Result::Fail("TLS cannot be set up: " + TlsQueueText("out of memory"));
    std::shared_ptr<TlsContext> made(new TlsContext(context, options.serverName));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // A peer that just closes ends the connection like a plain close; no
    // renegotiation, and no session resumption: a bridge has few, long
    // connections.
    SSL_CTX_set_options(context,
                        SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // Writes take what fits and are retried from the send queue, which may
    // have moved its bytes meanwhile.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!options.certificateFile.empty()) {
        if (Result r = LoadOwnCertificate(context, options); !r)
            return r;
    }
    if (Result r = LoadAuthority(context, options, serves); !r)
        return r;
    if (!serves) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    } else if (!options.caFile.empty()) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    out = std::move(made);
    return Result::Ok();
}

SSL* TlsContext::NewConnection(int fd) const
{
    SSL* ssl = SSL_new(m_context);
    if (ssl == nullptr)
        return nullptr;
    if (SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        return nullptr;
    }
    if (Serves()) {
        SSL_set_accept_state(ssl);
        return ssl;
    }
    SSL_set_connect_state(ssl);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    const QString host = QString::fromStdString(m_serverName).trimmed();
    if (QHostAddress address; address.setAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, address.toString().toStdString().c_str());
    } else {
        const std::string name = host.toStdString();
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
        // Servers with several names choose the certificate by it.
        SSL_set_tlsext_host_name(ssl, name.c_str());
    }
    return ssl;
}

}  // namespace velkon
