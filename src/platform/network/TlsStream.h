#pragma once

#include <cstddef>
#include <string>

#include "network/SocketIo.h"

typedef struct ssl_st SSL;

namespace velkon {

// The TLS layer of one connection whose handshake is done: reads and writes
// on its descriptor through OpenSSL, step by step like SocketIo.
//
// A step that would block says which way the descriptor must become ready
// (WantsWrite): a read may have to send (a key update's answer) and a write
// may have to receive first. A failed step has err -1 when TLS itself
// failed; FailureText says why.
class TlsStream {
public:
    // Takes ownership of ssl.
    explicit TlsStream(SSL* ssl);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    SSL* Handle() const { return m_ssl; }

    IoStep Receive(char* buffer, std::size_t room);
    IoStep Send(const char* bytes, std::size_t count);
    // After a kWouldBlock step: true when it waits to write, else to read.
    bool WantsWrite() const { return m_wantsWrite; }
    // Decrypted bytes that OpenSSL holds and the descriptor no longer shows.
    bool HasPending() const;
    const std::string& FailureText() const { return m_failure; }

    // Ends the session for an orderly close: the bytes not sent yet are
    // encrypted and followed by the close notice, all into memory; what is
    // returned goes on the wire as it is.
    std::string Seal(const char* unsent, std::size_t count);

private:
    IoStep Outcome(int result);

    SSL* m_ssl;
    bool m_wantsWrite = false;
    std::string m_failure;
};

}  // namespace velkon
