// The bench server's side of its socket protocol, fed in-process: the input is a
// series of pieces, each a connection number (0 to 2), a length byte and that
// many bytes, which arrive on that connection. A model of the protocol follows
// along and checks every answer: one byte per open, read and release record,
// none per write; a port held by one client is refused to the others; a control
// request is answered with a line and ends its connection; broken hellos and
// records drop the client. USB clients are fed and their answers collected with
// the bus running between pieces. At the end the bench's status must still be
// valid JSON.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench.h"
#include "bench_config.h"
#include "fuzz_support.h"
#include "bench_wire.h"
#include "server.h"

namespace {

constexpr int CONNECTIONS = 3;

struct Client {
    std::unique_ptr<bench::Connection> conn;
    enum class Kind { Hello, Port, Ctl, Usb, Gone } kind = Kind::Hello;
    std::string pending;     // bytes the model has not yet accounted for
    bool holds = false;      // the model's view of the claim
    uint16_t base = 0;
};

bench::BenchConfig start_config()
{
    bench::BenchConfig cfg;
    bench::apply_bench_option(cfg, "chain", "2s15,18v01");
    bench::apply_bench_option(cfg, "port", "0x378:xilinx");
    bench::apply_bench_option(cfg, "port", "0x278:altera");
    bench::apply_bench_option(cfg, "port", "0x3bc:none");
    bench::apply_bench_option(cfg, "usb", "0:qrt");
    return cfg;
}

struct Session {
    bench::Bench bench;
    Client clients[CONNECTIONS];

    Session()
    {
        bench.configure(start_config());
        for (auto &c : clients)
            c.conn = std::make_unique<bench::Connection>(bench);
    }

    bool held_by_other(uint16_t base, const Client *self) const
    {
        for (const auto &c : clients)
            if (&c != self && c.kind == Client::Kind::Port && c.holds && c.base == base)
                return true;
        return false;
    }

    // The server closes a finished or broken connection; its claim goes with it.
    void close(Client &c)
    {
        c.conn.reset();
        c.kind = Client::Kind::Gone;
        c.holds = false;
    }

    // Checks the answers to the records the model has complete; returns how many
    // answer bytes it used.
    size_t port_records(Client &c, const std::vector<uint8_t> &out)
    {
        size_t used = 0;
        while (c.pending.size() >= size_t(benchwire::RECORD_SIZE)) {
            const uint8_t op = uint8_t(c.pending[0]);
            const uint16_t addr = uint16_t(uint8_t(c.pending[1]) | uint8_t(c.pending[2]) << 8);
            if (op != benchwire::OP_WRITE && op != benchwire::OP_READ && op != benchwire::OP_OPEN &&
                op != benchwire::OP_RELEASE) {
                fuzz::require(c.conn->broken(), "a record of no known kind drops the client");
                return used;
            }
            c.pending.erase(0, benchwire::RECORD_SIZE);
            if (op == benchwire::OP_WRITE)
                continue;
            fuzz::require(used < out.size(), "open, read and release records are answered");
            const uint8_t answer = out[used++];
            if (op == benchwire::OP_OPEN) {
                fuzz::require(answer <= 1, "an open is answered 1 or 0");
                if (held_by_other(addr, &c))
                    fuzz::require(answer == 0, "a port held by one client is refused to another");
                c.holds = answer == 1;
                c.base = addr;
            } else if (op == benchwire::OP_RELEASE) {
                fuzz::require(answer == 1, "a release is answered 1");
                c.holds = false;
            }
        }
        return used;
    }

    void receive(Client &c, std::string_view bytes)
    {
        std::vector<uint8_t> out;
        c.conn->received(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), out);
        c.pending.append(bytes);
        size_t used = 0;
        if (c.kind == Client::Kind::Hello) {
            const size_t nl = c.pending.find('\n');
            if (nl == std::string::npos) {
                fuzz::require(out.empty(), "nothing is answered before the hello line");
                if (c.conn->broken())
                    fuzz::require(c.pending.size() > 4096, "only an overlong hello drops a client");
                else
                    return;
            } else if (c.pending.compare(0, nl + 1, benchwire::PORT_HELLO) == 0) {
                c.kind = Client::Kind::Port;
                c.pending.erase(0, nl + 1);
            } else if (c.pending.compare(0, nl + 1, benchwire::USB_HELLO) == 0) {
                c.kind = Client::Kind::Usb;
            } else if (c.pending.rfind(benchwire::CTL_PREFIX, 0) == 0) {
                c.kind = Client::Kind::Ctl;
            } else {
                fuzz::require(c.conn->broken(), "an unknown hello drops the client");
            }
        }
        if (c.kind == Client::Kind::Usb) {
            bench.run_usb(64);
            c.conn->take_output(out);
            c.pending.clear();
            used = out.size(); // the USB answers are the link's own business
        }
        if (c.kind == Client::Kind::Port)
            used = port_records(c, out);
        if (c.kind == Client::Kind::Ctl) {
            if (c.pending.find('\n') == std::string::npos) {
                fuzz::require(out.empty() && !c.conn->finished(), "a request is answered once its line is whole");
                return;
            }
            // An empty answer is an empty listing (a trace with nothing recorded).
            fuzz::require(out.empty() || out.back() == '\n', "a request is answered with whole lines");
            fuzz::require(c.conn->finished(), "a request ends its connection");
            used = out.size();
        }
        fuzz::require(used == out.size(), "nothing is answered beyond the records and requests");
        if (c.conn->broken() || c.conn->finished() || c.kind == Client::Kind::Hello)
            close(c);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Session s;
    size_t pos = 0;
    while (pos + 2 <= size) {
        Client &c = s.clients[data[pos] % CONNECTIONS];
        const size_t len = std::min<size_t>(data[pos + 1], size - pos - 2);
        const std::string_view bytes = fuzz::as_text(data + pos + 2, len);
        pos += 2 + len;
        if (c.kind != Client::Kind::Gone)
            s.receive(c, bytes);
    }
    fuzz::require(nlohmann::json::accept(s.bench.status_json()), "the bench's status is valid JSON");
    return 0;
}
