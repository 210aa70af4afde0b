#include "standin/peer_socket.hpp"

#include <cstring>
#include <iostream>
#include <memory>

#include <nng/protocol/bus0/bus.h>
#include <nng/protocol/pair0/pair.h>

#include "messaging/endpoint.hpp"

namespace {

void check(int rv, const char* call) {
    if (rv != 0) throw NngError(rv, call);
}

void on_pipe_event(nng_pipe, nng_pipe_ev event, void* arg) {
    auto* peers = static_cast<PeerSocket::Peers*>(arg);
    {
        std::lock_guard<std::mutex> lock(peers->mutex);
        peers->count += event == NNG_PIPE_EV_ADD_POST ? 1 : -1;
    }
    peers->changed.notify_all();
}

struct MsgFree {
    void operator()(nng_msg* m) const { nng_msg_free(m); }
};
using MsgPtr = std::unique_ptr<nng_msg, MsgFree>;

}  // namespace

bool PeerSocket::dial() {
    const bool bus = protocol_ == Protocol::bus;
    int rv = bus ? nng_bus0_open(&socket_) : nng_pair0_open(&socket_);
    if (rv != 0) socket_ = NNG_SOCKET_INITIALIZER;
    if (rv == 0) rv = nng_pipe_notify(socket_, NNG_PIPE_EV_ADD_POST, on_pipe_event, &peers_);
    if (rv == 0) rv = nng_pipe_notify(socket_, NNG_PIPE_EV_REM_POST, on_pipe_event, &peers_);
    // The same limits as the panel's endpoints.
    if (rv == 0) rv = nng_socket_set_size(socket_, NNG_OPT_RECVMAXSZ, Endpoint::max_body_bytes);
    if (rv == 0 && bus) rv = nng_socket_set_int(socket_, NNG_OPT_RECVBUF, Endpoint::bus_receive_buffer);
    if (rv == 0 && bus) rv = nng_socket_set_int(socket_, NNG_OPT_SENDBUF, Endpoint::bus_send_buffer);
    if (rv == 0 && !bus)
        rv = nng_socket_set_ms(socket_, NNG_OPT_SENDTIMEO,
                               static_cast<nng_duration>(Endpoint::pair_send_limit.count()));
    if (rv == 0) rv = nng_dial(socket_, url_.c_str(), nullptr, NNG_FLAG_NONBLOCK);
    if (rv != 0) {
        std::cerr << "Unable to establish socket connection: " << nng_strerror(rv) << std::endl;
        return false;
    }
    return true;
}

PeerSocket::~PeerSocket() {
    if (nng_socket_id(socket_) > 0) nng_close(socket_);
}

void PeerSocket::send(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
                      std::string destination) {
    encode_envelope_into(kind, sub_type, data, origin, destination, send_buffer_);
    try {
        send_body(send_buffer_);
    } catch (const NngError&) {
        report_send_failure(make_envelope(kind, std::move(sub_type), data, std::move(origin), std::move(destination)));
    }
}

void PeerSocket::send_body(const std::vector<std::uint8_t>& body) {
    nng_msg* raw = nullptr;
    check(nng_msg_alloc(&raw, body.size()), "nng_msg_alloc");
    MsgPtr msg(raw);
    if (!body.empty()) std::memcpy(nng_msg_body(raw), body.data(), body.size());
    check(nng_sendmsg(socket_, raw, 0), "nng_sendmsg");
    msg.release();  // nng owns it now
}

void PeerSocket::receive_body_within(std::chrono::milliseconds limit,
                                     const std::function<void(const std::uint8_t*, std::size_t)>& use) {
    nng_aio* aio = nullptr;
    check(nng_aio_alloc(&aio, nullptr, nullptr), "nng_aio_alloc");
    nng_aio_set_timeout(aio, static_cast<nng_duration>(limit.count()));
    nng_recv_aio(socket_, aio);
    nng_aio_wait(aio);
    const int rv = nng_aio_result(aio);
    MsgPtr msg(rv == 0 ? nng_aio_get_msg(aio) : nullptr);
    nng_aio_free(aio);
    check(rv, "nng_recv_aio");
    use(static_cast<const std::uint8_t*>(nng_msg_body(msg.get())), nng_msg_len(msg.get()));
}

Message PeerSocket::receive_within(std::chrono::milliseconds limit) {
    Message m;
    receive_body_within(limit, [&](const std::uint8_t* body, std::size_t length) {
        std::optional<Message> data = decode_received(body, length);
        m = data ? std::move(*data) : Message(0);
    });
    return m;
}

int PeerSocket::peer_count() const {
    std::lock_guard<std::mutex> lock(peers_.mutex);
    return peers_.count;
}

bool PeerSocket::wait_for_peer(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(peers_.mutex);
    return peers_.changed.wait_for(lock, limit, [&] { return peers_.count > 0; });
}
