#include "http/PacSandbox.h"

#include <duktape.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PacSandbox {
namespace {

constexpr size_t kMaxAnswer = 4096;

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Reads exactly `size` bytes, waiting at most until `deadline`.
bool readAll(int fd, char* into, size_t size, std::chrono::steady_clock::time_point deadline)
{
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait { fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, int(std::min<long long>(left.count(), 60000)));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(fd, into, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= size_t(got);
    }
    return true;
}

// What the script's functions need while it runs; the heap's user data.
struct State {
    const Job* job;
    int channel;
    size_t used = 0;
    std::map<std::string, std::string> resolved;
};

[[noreturn]] void finish(int channel, char type, std::string_view payload)
{
    send(channel, type, payload);
    ::_exit(0);
}

// Every block carries its size in front, so that the heap stays within
// its budget: a script that only allocates fails instead of taking the
// machine's memory before its time is up.
constexpr size_t kHeader = alignof(std::max_align_t);

void* allocate(void* udata, duk_size_t size)
{
    auto* state = static_cast<State*>(udata);
    if (size > state->job->memoryBudget - state->used)
        return nullptr;
    auto* block = static_cast<char*>(std::malloc(size + kHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    state->used += size;
    return block + kHeader;
}

void release(void* udata, void* pointer)
{
    if (!pointer)
        return;
    char* block = static_cast<char*>(pointer) - kHeader;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    static_cast<State*>(udata)->used -= size;
    std::free(block);
}

void* reallocate(void* udata, void* pointer, duk_size_t size)
{
    if (!pointer)
        return allocate(udata, size);
    if (size == 0) {
        release(udata, pointer);
        return nullptr;
    }
    void* moved = allocate(udata, size);
    if (!moved)
        return nullptr;
    size_t old = 0;
    std::memcpy(&old, static_cast<char*>(pointer) - kHeader, sizeof old);
    std::memcpy(moved, pointer, std::min(old, size_t(size)));
    release(udata, pointer);
    return moved;
}

void fatal(void* udata, const char* message)
{
    finish(static_cast<State*>(udata)->channel, Failure,
        std::string("script engine failure: ") + (message ? message : ""));
}

State& stateOf(duk_context* ctx)
{
    duk_memory_functions functions {};
    duk_get_memory_functions(ctx, &functions);
    return *static_cast<State*>(functions.udata);
}

std::string_view text(duk_context* ctx, duk_idx_t index)
{
    duk_size_t size = 0;
    const char* data = duk_to_lstring(ctx, index, &size);
    return { data, size };
}

// Asks the parent; the parent answers every request (or kills us).
std::string ask(State& state, char type, std::string_view payload)
{
    if (!send(state.channel, type, payload))
        ::_exit(1);
    const auto far = std::chrono::steady_clock::now() + std::chrono::hours(24);
    auto answer = receive(state.channel, far, kMaxAnswer);
    if (!answer)
        ::_exit(1);
    return answer->payload;
}

std::string resolve(State& state, std::string_view host)
{
    if (PacFunctions::isIpv4Address(host))
        return std::string(host);
    const std::string key(host);
    const auto known = state.resolved.find(key);
    if (known != state.resolved.end())
        return known->second;
    return state.resolved[key] = ask(state, Resolve, host);
}

duk_ret_t pushBoolean(duk_context* ctx, bool value)
{
    duk_push_boolean(ctx, value);
    return 1;
}

duk_ret_t isPlainHostName(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::isPlainHostName(text(ctx, 0)));
}

duk_ret_t dnsDomainIs(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::dnsDomainIs(text(ctx, 0), text(ctx, 1)));
}

duk_ret_t localHostOrDomainIs(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::localHostOrDomainIs(text(ctx, 0), text(ctx, 1)));
}

duk_ret_t dnsDomainLevels(duk_context* ctx)
{
    duk_push_int(ctx, PacFunctions::dnsDomainLevels(text(ctx, 0)));
    return 1;
}

duk_ret_t shExpMatch(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::shExpMatch(text(ctx, 0), text(ctx, 1)));
}

duk_ret_t isResolvable(duk_context* ctx)
{
    return pushBoolean(ctx, !resolve(stateOf(ctx), text(ctx, 0)).empty());
}

duk_ret_t dnsResolve(duk_context* ctx)
{
    const std::string address = resolve(stateOf(ctx), text(ctx, 0));
    if (address.empty())
        duk_push_null(ctx);
    else
        duk_push_lstring(ctx, address.data(), address.size());
    return 1;
}

duk_ret_t isInNet(duk_context* ctx)
{
    const std::string address = resolve(stateOf(ctx), text(ctx, 0));
    return pushBoolean(ctx, PacFunctions::isInNet(address, text(ctx, 1), text(ctx, 2)));
}

duk_ret_t myIpAddress(duk_context* ctx)
{
    const std::string address = ask(stateOf(ctx), MyAddress, {});
    duk_push_lstring(ctx, address.data(), address.size());
    return 1;
}

std::vector<PacFunctions::Argument> arguments(duk_context* ctx)
{
    std::vector<PacFunctions::Argument> values;
    for (duk_idx_t i = 0; i < duk_get_top(ctx); ++i) {
        if (duk_is_number(ctx, i))
            values.push_back({ true, duk_get_number(ctx, i), {} });
        else
            values.push_back({ false, 0, std::string(text(ctx, i)) });
    }
    return values;
}

duk_ret_t weekdayRange(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::weekdayRange(arguments(ctx), stateOf(ctx).job->now));
}

duk_ret_t dateRange(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::dateRange(arguments(ctx), stateOf(ctx).job->now));
}

duk_ret_t timeRange(duk_context* ctx)
{
    return pushBoolean(ctx, PacFunctions::timeRange(arguments(ctx), stateOf(ctx).job->now));
}

// Scripts written for browsers call alert() to debug; it has nowhere to go.
duk_ret_t alert(duk_context*)
{
    return 0;
}

void registerFunctions(duk_context* ctx)
{
    struct Entry {
        const char* name;
        duk_c_function function;
        duk_idx_t arguments;
    };
    static constexpr Entry entries[] = {
        { "isPlainHostName", isPlainHostName, 1 },
        { "dnsDomainIs", dnsDomainIs, 2 },
        { "localHostOrDomainIs", localHostOrDomainIs, 2 },
        { "dnsDomainLevels", dnsDomainLevels, 1 },
        { "shExpMatch", shExpMatch, 2 },
        { "isResolvable", isResolvable, 1 },
        { "dnsResolve", dnsResolve, 1 },
        { "isInNet", isInNet, 3 },
        { "myIpAddress", myIpAddress, 0 },
        { "weekdayRange", weekdayRange, DUK_VARARGS },
        { "dateRange", dateRange, DUK_VARARGS },
        { "timeRange", timeRange, DUK_VARARGS },
        { "alert", alert, 1 },
    };
    for (const Entry& entry : entries) {
        duk_push_c_function(ctx, entry.function, entry.arguments);
        duk_put_global_string(ctx, entry.name);
    }
}

[[noreturn]] void failWithError(duk_context* ctx, const State& state, const char* what)
{
    duk_size_t size = 0;
    const char* message = duk_safe_to_lstring(ctx, -1, &size);
    finish(state.channel, Failure, std::string(what) + std::string(message, size));
}

} // namespace

[[noreturn]] void run(const Job& job, int channel)
{
    State state { &job, channel, 0, {} };
    duk_context* ctx = duk_create_heap(allocate, reallocate, release, &state, fatal);
    if (!ctx)
        finish(channel, Failure, "no memory for the script engine");
    registerFunctions(ctx);
    const duk_uint_t flags
        = DUK_COMPILE_EVAL | DUK_COMPILE_SAFE | DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME;
    if (duk_eval_raw(ctx, job.script.data(), job.script.size(), flags) != 0)
        failWithError(ctx, state, "the script failed: ");
    duk_pop(ctx);
    if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1))
        finish(channel, Failure, "the script has no FindProxyForURL function");
    duk_push_lstring(ctx, job.url.data(), job.url.size());
    duk_push_lstring(ctx, job.host.data(), job.host.size());
    if (duk_pcall(ctx, 2) != 0)
        failWithError(ctx, state, "FindProxyForURL failed: ");
    if (!duk_is_string(ctx, -1))
        finish(channel, Failure, "FindProxyForURL answered no text");
    finish(channel, Result, text(ctx, -1));
}

bool send(int fd, char type, std::string_view payload)
{
    char head[5] = { type };
    const auto size = uint32_t(payload.size());
    std::memcpy(head + 1, &size, sizeof size);
    return writeAll(fd, head, sizeof head) && writeAll(fd, payload.data(), payload.size());
}

std::optional<Received> receive(
    int fd, std::chrono::steady_clock::time_point deadline, size_t maxSize)
{
    char head[5];
    if (!readAll(fd, head, sizeof head, deadline))
        return std::nullopt;
    uint32_t size = 0;
    std::memcpy(&size, head + 1, sizeof size);
    if (size > maxSize)
        return std::nullopt;
    Received message { head[0], std::string(size, '\0') };
    if (!readAll(fd, message.payload.data(), size, deadline))
        return std::nullopt;
    return message;
}

} // namespace PacSandbox
