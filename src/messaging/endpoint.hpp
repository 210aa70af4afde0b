#pragma once
// One nng socket with what it needs around it: its address, an asynchronous
// receive kept outstanding on the socket, the inbox where received envelopes
// wait for the main thread, and send / receive / take. The panel listens
// with two of them; the stand-in simulator, the tests and the benchmarks
// dial with them, as the simulator's components do, and use the rest: raw
// bodies in and out and a count of the connected peers.
//
// Threads:
//   owner thread  constructor, connect, bound_url, receive, receive_within,
//                 receive_body_within, take_if, set_arrival_notice,
//                 start_pump, destructor (the main thread for the panel's
//                 two endpoints)
//   sending thread  send: one thread at a time (it reuses one buffer), which
//                 may be another than the one that receives (the owner
//                 thread for the panel's endpoints)
//   any thread    send_body, peer_count, wait_for_peer
//   pump thread   pump, start_receive (one per endpoint, after start_pump)
//   nng thread    on_receive, the completion of the receive on aio; the pipe
//                 notifications that count the peers
// inbox_mutex guards inbox. receive_mutex guards socket against the pump and
// the completion, which read it while connect replaces it, and pairs with
// pump_wake so that the pump sleeps until it has a receive to start.
// Peers::mutex guards the set of connected pipes.
//
// One place keeps the receive going: a completion that received starts the
// next receive itself, as the last thing it does, so that a stream does not
// pay a wake-up of the pump per message, which costs more processor time
// than nng's own receive path. The pump starts only the first receive and
// the one after a failed one (a cancel, an error, the socket closed by
// connect).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nng/nng.h>

#include "messaging/message.hpp"

enum class EndpointKind : int { bus_listen = 0, bus_dial = 1, pair_listen = 2, pair_dial = 3 };

// A failed nng call: nng's numeric code, the failing call's name, and
// nng_strerror's text as what().
class NngError : public std::runtime_error {
public:
    NngError(int code, std::string call);
    int code() const { return code_; }
    const std::string& call() const { return call_; }

private:
    int code_;
    std::string call_;
};

class Endpoint {
public:
    // Largest body either socket takes; nng drops a larger one unread. Far
    // above the largest ping (about 20 kB).
    static constexpr std::size_t max_body_bytes = std::size_t{1} << 20;
    // Messages nng keeps reading ahead on a bus socket while the pump and the
    // main thread catch up (nng's largest receive buffer).
    static constexpr int bus_receive_buffer = 8192;
    // Messages a bus send may leave queued for nng's sending threads. With
    // nng's default, every send waits for one of those threads to take the
    // message, which holds a publisher to the pace of those threads' wake-ups;
    // queued, a send returns at once. A bus still drops what a
    // slow peer's own queue cannot take.
    static constexpr int bus_send_buffer = 8192;
    // Longest a send on a pair socket waits for a peer to take it, so that a
    // command with no simulator connected does not freeze the panel.
    static constexpr std::chrono::milliseconds pair_send_limit{1000};
    // Longest connect and the destructor wait for nng_close. nng 1.5.2's close
    // of a bus socket whose peer is still sending deadlocks now and then
    // inside nng, for good: the thread that tears down the peer's connection
    // waits for the connection's receive to stop, and that wait never ends.
    // It happens when the close finds the connection's reader between two
    // messages, as a stream keeps it, whether or not anything still
    // receives (bench/README.md has how often). The destructor
    // therefore first brings the readers to rest (stop_receiving); what is
    // left is guarded by this limit. A close that does not hang takes a few
    // milliseconds; past the limit the socket is left to the process exit.
    static constexpr std::chrono::milliseconds close_limit{100};
    // How long the destructor gives a bus socket's readers to come to rest
    // before it closes the socket (stop_receiving): a reader that is handing
    // over a message when the read-ahead queue shrinks takes it to the queue
    // and then waits there; without the pause some closes still hang
    // (bench/README.md).
    static constexpr std::chrono::milliseconds reader_settle_time{2};

    // url must outlive the endpoint; its owner may point it elsewhere until
    // connect. Allocates aio; touches no network. Throws NngError.
    Endpoint(const std::string* url, EndpointKind kind);
    // The same with an address of its own, for a peer that dials a fixed one.
    Endpoint(std::string address, EndpointKind kind);
    // Stops the pump and the outstanding receive, then closes the socket.
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Opens a socket of kind (closing one held before) and listens on or
    // dials *url. Failures are reported on standard error and not retried;
    // the result says whether the socket now listens or dials.
    // The listen kinds listen at once or fail. The dial kinds start nng's
    // dialer without waiting (NNG_FLAG_NONBLOCK): nng connects as soon as the
    // listener is there and redials whenever the connection is lost, so a
    // peer started before the panel, or outliving it, finds it again.
    bool connect();
    // The TCP address the endpoint listens on since its last connect: *url
    // with the port the listener holds, which the system chose when *url asks
    // for port 0. "" when it does not listen. Owner thread.
    std::string bound_url() const;

    // Encodes the envelope (without copying data into one) and sends it. A
    // failure is reported on standard output and the envelope is lost.
    void send(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
              std::string destination);
    // Sends body, which is encode(envelope), as it is: an envelope sent many
    // times is encoded once. A failure is reported as send reports it.
    void send_encoded(const Message& envelope, const std::vector<std::uint8_t>& body);

    // Sends body as it is, envelope or not. A failure is thrown as NngError.
    void send_body(const std::vector<std::uint8_t>& body);

    // Waits for the next message and decodes it; an undecodable body is
    // reported and gives the integer 0. nng's errors are thrown as NngError.
    Message receive();
    // The same, waiting at most limit; a timeout throws NngError (NNG_ETIMEDOUT).
    Message receive_within(std::chrono::milliseconds limit);
    // Waits at most limit for the next message and hands its body, as it
    // arrived, to use(body, length) before freeing it. The timeout and nng's
    // errors are thrown as NngError.
    void receive_body_within(std::chrono::milliseconds limit,
                             const std::function<void(const std::uint8_t*, std::size_t)>& use);

    // Peers connected to the socket right now (nng's pipes, counted from its
    // notifications), and a wait of at most limit for there to be one. A bus
    // drops what it sends while no peer is attached: a peer that publishes
    // at once waits for one first. Any thread.
    int peer_count() const;
    bool wait_for_peer(std::chrono::milliseconds limit) const;

    // Moves the inbox envelopes for which predicate holds, in arrival order,
    // into the result; the rest stay. The predicate runs under inbox_mutex
    // and must not call back into the endpoint.
    std::list<Message> take_if(std::function<bool(Message&)> predicate);

    // Starts the pump thread that keeps one receive outstanding. Once only;
    // before or after connect (a pump with no open socket sleeps until connect
    // opens one). The destructor stops and joins it.
    void start_pump();
    // The pump thread's body: starts a receive whenever none is outstanding
    // on an open socket and sleeps otherwise, until stop_requested.
    void pump();
    // Starts one asynchronous receive unless one is outstanding.
    void start_receive();
    // Completion of the receive on aio (a thread of nng's): queues the
    // envelope, then starts the next receive itself; after a failure, or once
    // stop_requested, it clears receiving and wakes the pump instead.
    void on_receive();

    // notice is called by the receive completion, on a thread of nng's, each
    // time it has put an envelope into the inbox, after the inbox lock is
    // released: the way for the owner to learn that take_if has something
    // without polling. It must be cheap, must not block and must not call
    // back into the endpoint. Set it before start_pump, on the owner thread.
    void set_arrival_notice(std::function<void()> notice);

    const std::string* url;
    const EndpointKind kind;

    // The connected pipes, kept by nng's pipe notifications on nng's threads.
    // Shared with the thread that closes the socket, which may outlive the
    // endpoint (close_limit), so that a late notification finds it.
    struct Peers {
        std::mutex mutex;
        std::condition_variable changed;
        std::set<std::uint32_t> pipes;
    };

private:
    bool is_open() const { return nng_socket_id(socket) > 0; }
    // Ends reception for good before the close: shrinks a bus socket's
    // read-ahead queue to nothing (dropping what it holds: nothing takes it
    // any more), stops the outstanding receive, and gives the readers of the
    // peer connections reader_settle_time to finish the message they hold and
    // wait on the full queue instead of reading on. Owner thread, once the
    // pump has left.
    void stop_receiving();
    // Closes the socket, waiting at most close_limit (see there).
    void close_socket();
    Message decode_and_free(nng_msg* msg);
    // Sends body as one message: nng's result, 0 when nng took it.
    int send_message(const std::vector<std::uint8_t>& body);
    // Sets the socket's receive timeout unless it is already limit.
    void set_receive_limit(nng_duration limit);

    // The next message, waiting at most limit (NNG_DURATION_INFINITE: no
    // limit), which becomes the socket's receive timeout if it is not already.
    nng_msg* receive_message(nng_duration limit);

    std::string own_url;  // the address of an endpoint built with one
    nng_socket socket = NNG_SOCKET_INITIALIZER;  // written under receive_mutex
    nng_listener listener = NNG_LISTENER_INITIALIZER;  // owner thread
    nng_aio* aio = nullptr;
    std::mutex inbox_mutex;
    std::atomic<bool> receiving{false};
    std::atomic<bool> stop_requested{false};
    std::list<Message> inbox;
    std::function<void()> arrival_notice;
    // The encoded envelope of the last send, kept for its capacity (owner thread).
    std::vector<std::uint8_t> send_buffer;
    // The receive timeout socket has (owner thread): receive and
    // receive_within set it only when it changes.
    nng_duration receive_limit = NNG_DURATION_INFINITE;
    std::mutex receive_mutex;
    std::condition_variable pump_wake;
    std::thread pump_thread;
    std::shared_ptr<Peers> peers = std::make_shared<Peers>();
};
