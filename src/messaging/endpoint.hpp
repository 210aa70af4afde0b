#pragma once
// One nng socket of the panel with what it needs around it: its address, an
// asynchronous receive kept outstanding by a pump thread, the inbox where
// received envelopes wait for the main thread, and send / receive / take.
//
// Threads:
//   main thread   constructor, connect, send, receive, take_if, start_pump,
//                 destructor
//   pump thread   pump, start_receive (one per endpoint, after start_pump)
//   nng thread    on_receive, the completion of the receive on aio
// inbox_mutex guards inbox; receiving and stop_requested are atomic.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nng/nng.h>

#include "message.hpp"

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
    // url must outlive the endpoint; its owner may point it elsewhere until
    // connect. Allocates aio; touches no network. Throws NngError.
    Endpoint(const std::string* url, EndpointKind kind);
    // Stops the pump and the outstanding receive, then closes the socket.
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Opens the socket of kind and listens on or dials *url. Failures are
    // reported on standard error and not retried. True when the socket now
    // listens or is dialled (a dialling peer calls it again until it is).
    bool connect();

    // Builds the envelope, encodes it and sends it. A failure is reported on
    // standard output and the envelope is lost.
    void send(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
              std::string destination);

    // Sends body as it is, unencoded: lets a test peer send bodies that are
    // not envelopes. A failure is thrown as NngError.
    void send_body(const std::vector<std::uint8_t>& body);

    // Waits for the next message and decodes it; an undecodable body is
    // reported and gives the integer 0. nng's errors are thrown as NngError.
    Message receive();
    // The same, waiting at most limit; a timeout throws NngError (NNG_ETIMEDOUT).
    Message receive_within(std::chrono::milliseconds limit);

    // Moves the inbox envelopes for which predicate holds, in arrival order,
    // into the result; the rest stay. The predicate runs under inbox_mutex.
    std::list<Message> take_if(std::function<bool(Message&)> predicate);

    // Starts the pump thread that keeps one receive outstanding.
    void start_pump();
    void pump();
    void start_receive();
    // Completion of the receive on aio.
    void on_receive();

    const std::string* url;
    const EndpointKind kind;

private:
    nng_socket socket = NNG_SOCKET_INITIALIZER;
    nng_aio* aio = nullptr;
    std::mutex inbox_mutex;
    std::atomic<bool> receiving{false};
    std::atomic<bool> stop_requested{false};
    std::list<Message> inbox;
    std::thread pump_thread;
};
