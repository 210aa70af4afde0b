// libFuzzer target over everything a received body goes through: the bounded
// decode with its report, then the frame driver's printing and routing into
// the register file view and the two memory views. One input is one body,
// given to a panel of its own, so that a saved input reproduces alone.
//
// The console is kept but discarded: every text is still formatted. Besides
// the sanitizers, one check of the views: every register field shows its
// register in the current base, whatever was applied or refused.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "frame.hpp"
#include "messaging/message.hpp"

namespace {

class DiscardingBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void discard_console() {
    static DiscardingBuffer discard;
    std::ios::sync_with_stdio(false);
    std::cout.rdbuf(&discard);
    std::cerr.rdbuf(&discard);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    discard_console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never started: no socket is opened, the views are what is exercised.
    Panel p("tcp://127.0.0.1:1", "tcp://127.0.0.1:2");
    if (std::optional<Message> message = decode_received(data, size)) p.dispatch(*message);
    for (int i = 0; i < RegisterFileView::register_count; ++i) {
        const std::string shown = RegisterFileView::format_value(p.register_file.registers[i], p.register_file.base);
        if (std::strcmp(p.register_file.texts[i].get(), shown.c_str()) != 0) std::abort();
    }
    return 0;
}
