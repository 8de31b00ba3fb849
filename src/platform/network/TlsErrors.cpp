#include "network/TlsErrors.h"

#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace velkon {

std::string TlsQueueText(const std::string& fallback)
{
    std::string text;
    // The last reason is the most specific; the earlier ones say where.
    while (const unsigned long code = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(code);
        text = reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
    }
    return text.empty() ? fallback : text;
}

std::string TlsFileText(const std::string& what, const std::string& path, int err)
{
    return "The TLS " + what + " file " + path + " cannot be used: " + std::strerror(err);
}

std::string TlsCallText(SSL* ssl, int result)
{
    const int err = errno;
    const int kind = SSL_get_error(ssl, result);
    const long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK) {
        ERR_clear_error();
        return std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict);
    }
    if (kind == SSL_ERROR_SYSCALL) {
        const std::string queued = TlsQueueText({});
        if (!queued.empty())
            return queued;
        return err != 0 ? std::string(std::strerror(err)) : "the peer closed the connection";
    }
    if (kind == SSL_ERROR_ZERO_RETURN)
        return "the peer closed the connection";
    return TlsQueueText("TLS failure " + std::to_string(kind));
}

SocketFailure TlsFailure(const std::string& reason)
{
    return {kErrConnectionAborted, "TLS: " + reason};
}

}  // namespace velkon
