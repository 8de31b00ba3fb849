#pragma once

#include <string>

#include "network/SocketErrors.h"

typedef struct ssl_st SSL;

namespace velkon {

// The one translation of OpenSSL's errors into readable texts.

// The reasons waiting in this thread's OpenSSL error queue, which is emptied;
// fallback when it holds none.
std::string TlsQueueText(const std::string& fallback);

// Why a file named for TLS cannot be used: what it is for, its path and the
// system's reason for errno err.
std::string TlsFileText(const std::string& what, const std::string& path, int err);

// Why a call on ssl failed with result (the call's return value), read
// right after the call: the certificate check's verdict when that failed
// ("certificate has expired", "hostname mismatch"), else the queued reason,
// the system error or the peer's close.
std::string TlsCallText(SSL* ssl, int result);

// A connection's TLS failure as the session sees it.
SocketFailure TlsFailure(const std::string& reason);

}  // namespace velkon
