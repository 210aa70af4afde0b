#include "messaging/endpoint.hpp"

#include <cstring>
#include <iostream>
#include <memory>

#include <nng/protocol/bus0/bus.h>
#include <nng/protocol/pair0/pair.h>

namespace {

void on_receive_callback(void* arg) { static_cast<Endpoint*>(arg)->on_receive(); }

// A pipe is counted from its ADD_POST to its REM_POST; nng may report the
// removal of a pipe it never reported as added (one refused on the way in).
void on_pipe_event(nng_pipe pipe, nng_pipe_ev event, void* arg) {
    auto* peers = static_cast<Endpoint::Peers*>(arg);
    const auto id = static_cast<std::uint32_t>(nng_pipe_id(pipe));
    {
        std::lock_guard<std::mutex> lock(peers->mutex);
        if (event == NNG_PIPE_EV_ADD_POST) peers->pipes.insert(id);
        else peers->pipes.erase(id);
    }
    peers->changed.notify_all();
}

void check(int rv, const char* call) {
    if (rv != 0) throw NngError(rv, call);
}

struct MsgFree {
    void operator()(nng_msg* m) const { nng_msg_free(m); }
};
using MsgPtr = std::unique_ptr<nng_msg, MsgFree>;

MsgPtr message_with_body(const std::vector<std::uint8_t>& body) {
    nng_msg* raw = nullptr;
    check(nng_msg_alloc(&raw, body.size()), "nng_msg_alloc");
    if (!body.empty()) std::memcpy(nng_msg_body(raw), body.data(), body.size());
    return MsgPtr(raw);
}

bool is_listen(EndpointKind kind) { return kind == EndpointKind::bus_listen || kind == EndpointKind::pair_listen; }
bool is_bus(EndpointKind kind) { return kind == EndpointKind::bus_listen || kind == EndpointKind::bus_dial; }

}  // namespace

NngError::NngError(int code, std::string call)
    : std::runtime_error(nng_strerror(code)), code_(code), call_(std::move(call)) {}

Endpoint::Endpoint(const std::string* url_, EndpointKind kind_) : url(url_), kind(kind_) {
    check(nng_aio_alloc(&aio, on_receive_callback, this), "nng_aio_alloc");
}

Endpoint::Endpoint(std::string address, EndpointKind kind_) : Endpoint(&own_url, kind_) {
    own_url = std::move(address);
}

Endpoint::~Endpoint() {
    // The pump first: once it has left, nothing starts another receive.
    {
        std::lock_guard<std::mutex> lock(receive_mutex);
        stop_requested = true;
    }
    pump_wake.notify_all();
    if (pump_thread.joinable()) pump_thread.join();
    stop_receiving();
    close_socket();
    nng_aio_free(aio);
}

void Endpoint::stop_receiving() {
    // Only connect, on this thread, writes socket.
    const bool quiet_bus = is_bus(kind) && is_open();
    if (quiet_bus) nng_socket_set_int(socket, NNG_OPT_RECVBUF, 0);
    // Cancels the outstanding receive and waits for a completion in progress;
    // no completion can run after it returns.
    nng_aio_stop(aio);
    if (quiet_bus) std::this_thread::sleep_for(reader_settle_time);
}

void Endpoint::close_socket() {
    nng_socket s;
    {
        std::lock_guard<std::mutex> lock(receive_mutex);
        s = socket;
        socket = NNG_SOCKET_INITIALIZER;
    }
    if (nng_socket_id(s) <= 0) return;
    // On a helper thread, so that a close that deadlocks inside nng (see
    // close_limit) costs its caller no more than the limit. The thread touches
    // nothing but the socket id, its own state and the peers that the
    // socket's pipe notifications still reach until the close returns.
    struct Closing {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
    };
    auto closing = std::make_shared<Closing>();
    std::thread([s, closing, kept_peers = peers]() mutable {
        nng_close(s);
        kept_peers.reset();  // the last notification has come
        std::lock_guard<std::mutex> lock(closing->m);
        closing->done = true;
        closing->cv.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(closing->m);
    closing->cv.wait_for(lock, close_limit, [&] { return closing->done; });
}

bool Endpoint::connect() {
    int k = static_cast<int>(kind);
    if (k < 0 || k > 3) {
        std::cerr << "Invalid socket type" << std::endl;
        return false;
    }
    // A receive outstanding on the old socket completes with an error when it
    // closes; the pump then starts the next one on the new socket.
    close_socket();
    nng_socket s = NNG_SOCKET_INITIALIZER;
    int rv = is_bus(kind) ? nng_bus0_open(&s) : nng_pair0_open(&s);
    // Peers counted and limits set before the socket meets a peer.
    if (rv == 0) rv = nng_pipe_notify(s, NNG_PIPE_EV_ADD_POST, on_pipe_event, peers.get());
    if (rv == 0) rv = nng_pipe_notify(s, NNG_PIPE_EV_REM_POST, on_pipe_event, peers.get());
    if (rv == 0) rv = nng_socket_set_size(s, NNG_OPT_RECVMAXSZ, max_body_bytes);
    if (rv == 0 && is_bus(kind)) rv = nng_socket_set_int(s, NNG_OPT_RECVBUF, bus_receive_buffer);
    if (rv == 0 && is_bus(kind)) rv = nng_socket_set_int(s, NNG_OPT_SENDBUF, bus_send_buffer);
    if (rv == 0 && !is_bus(kind))
        rv = nng_socket_set_ms(s, NNG_OPT_SENDTIMEO, static_cast<nng_duration>(pair_send_limit.count()));
    if (rv == 0) {
        listener = NNG_LISTENER_INITIALIZER;
        rv = is_listen(kind) ? nng_listen(s, url->c_str(), &listener, 0)
                             : nng_dial(s, url->c_str(), nullptr, NNG_FLAG_NONBLOCK);
    }
    // The socket is the endpoint's once opened, listening or not.
    if (nng_socket_id(s) > 0) {
        {
            std::lock_guard<std::mutex> lock(receive_mutex);
            socket = s;
        }
        receive_limit = NNG_DURATION_INFINITE;
        pump_wake.notify_all();
    }
    if (rv != 0) {
        std::cerr << "Unable to establish socket connection: " << nng_strerror(rv) << std::endl;
        return false;
    }
    return true;
}

std::string Endpoint::bound_url() const {
    int port = 0;
    if (nng_listener_id(listener) <= 0 || nng_listener_get_int(listener, NNG_OPT_TCP_BOUND_PORT, &port) != 0) {
        return "";
    }
    return url->substr(0, url->rfind(':') + 1) + std::to_string(port);
}

int Endpoint::send_message(const std::vector<std::uint8_t>& body) {
    MsgPtr msg = message_with_body(body);
    const int rv = nng_sendmsg(socket, msg.get(), 0);
    if (rv == 0) msg.release();  // nng owns it now
    return rv;
}

void Endpoint::send(MessageKind message_kind, std::string sub_type, const Message& data, std::string origin,
                    std::string destination) {
    encode_envelope_into(message_kind, sub_type, data, origin, destination, send_buffer);
    if (send_message(send_buffer) == 0) return;
    report_send_failure(make_envelope(message_kind, std::move(sub_type), data, std::move(origin), std::move(destination)));
}

void Endpoint::send_encoded(const Message& envelope, const std::vector<std::uint8_t>& body) {
    if (send_message(body) != 0) report_send_failure(envelope);
}

void Endpoint::send_body(const std::vector<std::uint8_t>& body) { check(send_message(body), "nng_sendmsg"); }

Message Endpoint::decode_and_free(nng_msg* raw) {
    MsgPtr msg(raw);
    std::optional<Message> data =
        decode_received(static_cast<const std::uint8_t*>(nng_msg_body(msg.get())), nng_msg_len(msg.get()));
    return data ? std::move(*data) : Message(0);
}

void Endpoint::set_receive_limit(nng_duration limit) {
    if (limit == receive_limit) return;
    check(nng_socket_set_ms(socket, NNG_OPT_RECVTIMEO, limit), "nng_socket_set_ms");
    receive_limit = limit;
}

nng_msg* Endpoint::receive_message(nng_duration limit) {
    set_receive_limit(limit);
    nng_msg* msg = nullptr;
    check(nng_recvmsg(socket, &msg, 0), "nng_recvmsg");
    return msg;
}

Message Endpoint::receive() { return decode_and_free(receive_message(NNG_DURATION_INFINITE)); }

Message Endpoint::receive_within(std::chrono::milliseconds limit) {
    return decode_and_free(receive_message(static_cast<nng_duration>(limit.count())));
}

void Endpoint::receive_body_within(std::chrono::milliseconds limit,
                                   const std::function<void(const std::uint8_t*, std::size_t)>& use) {
    MsgPtr msg(receive_message(static_cast<nng_duration>(limit.count())));
    use(static_cast<const std::uint8_t*>(nng_msg_body(msg.get())), nng_msg_len(msg.get()));
}

int Endpoint::peer_count() const {
    std::lock_guard<std::mutex> lock(peers->mutex);
    return static_cast<int>(peers->pipes.size());
}

bool Endpoint::wait_for_peer(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(peers->mutex);
    return peers->changed.wait_for(lock, limit, [&] { return !peers->pipes.empty(); });
}

std::list<Message> Endpoint::take_if(std::function<bool(Message&)> predicate) {
    std::lock_guard<std::mutex> mtx_grd(inbox_mutex);
    std::list<Message> items;
    for (auto it = inbox.begin(); it != inbox.end();) {
        auto next = std::next(it);
        if (predicate(*it)) items.splice(items.end(), inbox, it);
        it = next;
    }
    return items;
}

void Endpoint::set_arrival_notice(std::function<void()> notice) { arrival_notice = std::move(notice); }

void Endpoint::start_pump() { pump_thread = std::thread(&Endpoint::pump, this); }

void Endpoint::pump() {
    std::unique_lock<std::mutex> lock(receive_mutex);
    auto can_start = [&] { return !receiving && is_open(); };
    while (!stop_requested) {
        if (can_start()) {
            lock.unlock();
            start_receive();
            lock.lock();
        }
        // Sleeps until a completion has cleared receiving, connect has opened
        // a socket, or the destructor stops it.
        pump_wake.wait(lock, [&] { return stop_requested || can_start(); });
    }
}

void Endpoint::start_receive() {
    if (receiving) return;
    // The previous completion may still be finishing after it cleared
    // receiving: two completions never run at once on the one aio.
    nng_aio_wait(aio);
    nng_socket s;
    {
        std::lock_guard<std::mutex> lock(receive_mutex);
        if (!is_open()) return;
        s = socket;
        // Raised before the start: the completion may run before nng_recv_aio returns.
        receiving = true;
    }
    nng_recv_aio(s, aio);
}

void Endpoint::on_receive() {
    int rv = nng_aio_result(aio);
    if (rv != 0) {
        if (!stop_requested) std::cerr << "Something went wrong" << std::endl;
    } else {
        MsgPtr msg(nng_aio_get_msg(aio));
        nng_aio_set_msg(aio, nullptr);
        // Decoded where nng left it; the message is freed right after.
        std::optional<Message> data =
            decode_received(static_cast<const std::uint8_t*>(nng_msg_body(msg.get())), nng_msg_len(msg.get()));
        msg.reset();
        if (data) {
            {
                std::lock_guard<std::mutex> lock(inbox_mutex);
                inbox.push_back(std::move(*data));
            }
            if (arrival_notice) arrival_notice();
        }
    }
    std::unique_lock<std::mutex> lock(receive_mutex);
    if (rv == 0 && !stop_requested && is_open()) {
        // The next receive, started here as the very last step: its own
        // completion may run at once on another thread, and nothing of this
        // one is touched after the call. A socket that connect closes in the
        // meantime fails it, and that completion hands over to the pump. Once
        // the destructor has stopped the aio, the start fails quietly and no
        // completion follows.
        nng_socket s = socket;
        lock.unlock();
        nng_recv_aio(s, aio);
        return;
    }
    // The last step: the pump may start the next receive from here on.
    receiving = false;
    lock.unlock();
    pump_wake.notify_one();
}
