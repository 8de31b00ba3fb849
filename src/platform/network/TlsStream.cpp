#include "network/TlsStream.h"

#include <cerrno>
#include <climits>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "network/TlsErrors.h"

namespace velkon {

namespace {

int Clamp(std::size_t count)
{
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

}  // namespace

TlsStream::TlsStream(SSL* ssl) : m_ssl(ssl) {}

TlsStream::~TlsStream()
{
    SSL_free(m_ssl);
}

IoStep TlsStream::Receive(char* buffer, std::size_t room)
{
    ERR_clear_error();
    errno = 0;
    const int n = SSL_read(m_ssl, buffer, Clamp(room));
    if (n > 0)
        return {IoStep::kDone, static_cast<std::size_t>(n), 0};
    return Outcome(n);
}

IoStep TlsStream::Send(const char* bytes, std::size_t count)
{
    ERR_clear_error();
    errno = 0;
    const int n = SSL_write(m_ssl, bytes, Clamp(count));
    if (n > 0)
        return {IoStep::kDone, static_cast<std::size_t>(n), 0};
    return Outcome(n);
}

IoStep TlsStream::Outcome(int result)
{
    const int err = errno;
    switch (SSL_get_error(m_ssl, result)) {
        case SSL_ERROR_WANT_READ:
            m_wantsWrite = false;
            return {IoStep::kWouldBlock, 0, EAGAIN};
        case SSL_ERROR_WANT_WRITE:
            m_wantsWrite = true;
            return {IoStep::kWouldBlock, 0, EAGAIN};
        case SSL_ERROR_ZERO_RETURN:
            return {IoStep::kEnd, 0, 0};
        case SSL_ERROR_SYSCALL:
            if (err != 0 && ERR_peek_error() == 0)
                return {IoStep::kFailed, 0, err};
            [[fallthrough]];
        default:
            errno = err;
            m_failure = TlsCallText(m_ssl, result);
            return {IoStep::kFailed, 0, -1};
    }
}

bool TlsStream::HasPending() const
{
    return SSL_pending(m_ssl) > 0;
}

std::string TlsStream::Seal(const char* unsent, std::size_t count)
{
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory == nullptr)
        return {};
    // The socket stays the read side; writes (with a record left over from a
    // blocked write, which the first write below finishes) go to memory.
    SSL_set0_wbio(m_ssl, memory);
    std::size_t done = 0;
    while (done < count) {
        const int n = SSL_write(m_ssl, unsent + done, Clamp(count - done));
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    SSL_shutdown(m_ssl);
    ERR_clear_error();
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace velkon
