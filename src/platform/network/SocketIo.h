#pragma once

#include <cstddef>

class QSocketNotifier;

namespace velkon {

// Bytes read from a socket per call at most.
constexpr std::size_t kReadChunk = 64 * 1024;

// The event loop thread's read buffer of kReadChunk bytes, shared by every
// socket: a socket holds memory only for bytes that wait.
char* ReadScratch();

// Stops and deletes a notifier, also from inside its own activation.
void DropNotifier(QSocketNotifier*& notifier);

void CloseDescriptor(int& fd);
// Closes a connected socket with a reset (SO_LINGER 0): the kernel keeps
// nothing for it and the peer learns at once.
void ResetDescriptor(int& fd);
// Bytes of a connected socket the peer has not acknowledged (SIOCOUTQ).
std::size_t UnacknowledgedBytes(int fd);

// The outcome of one non-blocking send or receive, EINTR retried.
struct IoStep {
    enum Kind { kDone, kWouldBlock, kEnd, kFailed };
    Kind kind;
    std::size_t count;
    int err;
};
IoStep SendSome(int fd, const char* bytes, std::size_t count);
IoStep ReceiveSome(int fd, char* buffer, std::size_t room);

}  // namespace velkon
