#pragma once

#include "http/PacFunctions.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The forked process a proxy auto-configuration script runs in, and the
// little protocol it speaks with its parent over a socket: each message is a
// type byte, a 32-bit length and that many bytes. The sandbox asks its parent
// to resolve names (it must not touch the resolver's state, which another
// thread of the parent may have held locked at the moment of the fork) and
// ends with a result or a failure.
namespace PacSandbox {

enum Message : char {
    Resolve = 'R', // payload: a host name; the answer is an IPv4 address or empty
    MyAddress = 'M', // no payload; the answer is an IPv4 address
    Result = '=', // payload: what FindProxyForURL returned
    Failure = '!', // payload: why there is no result
};

struct Job {
    std::string script; // UTF-8
    std::string url;
    std::string host;
    PacFunctions::ClockReading now;
    size_t memoryBudget = 64u << 20;
};

// Runs in the forked child only: evaluates the job, talks over `channel`
// and ends the process.
[[noreturn]] void run(const Job& job, int channel);

bool send(int fd, char type, std::string_view payload);

struct Received {
    char type = 0;
    std::string payload;
};

// Reads one message, waiting until `deadline` at most (steady clock); nothing
// on time-out, end of the channel or a message over `maxSize` bytes.
std::optional<Received> receive(
    int fd, std::chrono::steady_clock::time_point deadline, size_t maxSize);

} // namespace PacSandbox
