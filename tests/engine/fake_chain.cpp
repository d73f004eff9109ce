#include "fake_chain.h"

#include "sp2jtag.h"

namespace fake {

namespace {

Chain *current = nullptr;

int32_t VOK_CALL shift_entry(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    if (current != nullptr)
        current->shift(tdi, tdo, nbits, tms, tms_last);
    return 0;
}

Tap next(Tap s, int tms)
{
    switch (s) {
    case Tap::Reset: return tms ? Tap::Reset : Tap::Idle;
    case Tap::Idle: return tms ? Tap::SelectDr : Tap::Idle;
    case Tap::SelectDr: return tms ? Tap::SelectIr : Tap::CaptureDr;
    case Tap::CaptureDr: return tms ? Tap::Exit1Dr : Tap::ShiftDr;
    case Tap::ShiftDr: return tms ? Tap::Exit1Dr : Tap::ShiftDr;
    case Tap::Exit1Dr: return tms ? Tap::UpdateDr : Tap::PauseDr;
    case Tap::PauseDr: return tms ? Tap::Exit2Dr : Tap::PauseDr;
    case Tap::Exit2Dr: return tms ? Tap::UpdateDr : Tap::ShiftDr;
    case Tap::UpdateDr: return tms ? Tap::SelectDr : Tap::Idle;
    case Tap::SelectIr: return tms ? Tap::Reset : Tap::CaptureIr;
    case Tap::CaptureIr: return tms ? Tap::Exit1Ir : Tap::ShiftIr;
    case Tap::ShiftIr: return tms ? Tap::Exit1Ir : Tap::ShiftIr;
    case Tap::Exit1Ir: return tms ? Tap::UpdateIr : Tap::PauseIr;
    case Tap::PauseIr: return tms ? Tap::Exit2Ir : Tap::PauseIr;
    case Tap::Exit2Ir: return tms ? Tap::UpdateIr : Tap::ShiftIr;
    case Tap::UpdateIr: return tms ? Tap::SelectDr : Tap::Idle;
    }
    return Tap::Reset;
}

uint32_t reverse32(uint32_t v)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i)
        r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

// Data register selected by the current instruction, as captured.
void capture_dr(Device &d)
{
    d.dr_len = 1;
    d.dr = 0;
    if (d.ir == d.idcode_inst) {
        d.dr_len = 32;
        d.dr = d.idcode;
    } else if (d.spartan && (d.ir == 0x02 || d.ir == 0x03)) {
        d.dr_len = 32;
        d.dr = d.user[d.ir - 0x02];
    } else if (d.spartan && d.ir == 0x04) {
        // One leading bit, then the status word most significant bit first.
        d.dr_len = 33;
        d.dr = static_cast<uint64_t>(reverse32(d.status)) << 1;
    }
}

} // namespace

Device spartan2(uint32_t idcode)
{
    Device d;
    d.idcode = idcode;
    d.ir_len = 5;
    d.ir_capture = 0x1D; // PROGRAM, INIT, DONE high, then 01
    d.bypass = 0x1F;
    d.idcode_inst = 0x09;
    d.spartan = true;
    return d;
}

Device prom(uint32_t idcode)
{
    Device d;
    d.idcode = idcode;
    d.ir_len = 8;
    d.ir_capture = 0x01;
    d.bypass = 0xFF;
    d.idcode_inst = 0xFE;
    return d;
}

Device generic(uint32_t idcode, int ir_len)
{
    Device d;
    d.idcode = idcode;
    d.ir_len = ir_len;
    d.ir_capture = 0x01;
    d.bypass = (1u << ir_len) - 1;
    d.idcode_inst = 0x01;
    return d;
}

Chain::Chain(std::vector<Device> devs, Order o) : devices(std::move(devs)), order(o)
{
    for (Device &d : devices)
        d.ir = d.idcode_inst;
    current = this;
    driver.jtag_txrx = shift_entry;
    driver.bscan_convert_bit_order_in = order == Order::LsbFirst ? 1 : 0;
}

Chain::~Chain()
{
    spa2_select_user(0); // no channel left open for the next test
    current = nullptr;
}

int Chain::clock(int tms, int tdi)
{
    tms_trace.push_back(tms);
    int tdo = 1;
    const bool shifting_ir = state == Tap::ShiftIr;
    const bool shifting_dr = state == Tap::ShiftDr;
    if (!devices.empty() && (shifting_ir || shifting_dr)) {
        Device &d0 = devices.front();
        tdo = static_cast<int>(d0.dr & 1u); // one shift register serves IR and DR scans
    }
    if (stuck == Stuck::High)
        tdo = 1;
    else if (stuck == Stuck::Low)
        tdo = 0;

    // Rising edge: the action of the current state, then the move.
    if (state == Tap::CaptureIr) {
        for (Device &d : devices)
            d.dr = d.ir_capture, d.dr_len = d.ir_len;
    } else if (state == Tap::CaptureDr) {
        for (Device &d : devices)
            capture_dr(d);
    } else if (shifting_ir || shifting_dr) {
        uint64_t in = static_cast<uint64_t>(tdi & 1);
        for (size_t i = devices.size(); i-- > 0;) {
            Device &d = devices[i];
            const uint64_t out = d.dr & 1u;
            d.dr = (d.dr >> 1) | (in << (d.dr_len - 1));
            in = out;
        }
    }
    const Tap before = state;
    state = next(state, tms);
    if (state == Tap::UpdateIr && before != Tap::UpdateIr) {
        for (Device &d : devices) {
            d.ir = static_cast<uint32_t>(d.dr & ((1u << d.ir_len) - 1));
            ++d.instructions_loaded;
        }
    } else if (state == Tap::UpdateDr && before != Tap::UpdateDr) {
        for (Device &d : devices) {
            if (d.spartan && (d.ir == 0x02 || d.ir == 0x03))
                d.user[d.ir - 0x02] = static_cast<uint32_t>(d.dr);
        }
    } else if (state == Tap::Reset) {
        for (Device &d : devices)
            d.ir = d.idcode_inst;
    }
    return tdo;
}

void Chain::shift(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last)
{
    Call call;
    call.has_tdi = tdi != nullptr;
    call.has_tdo = tdo != nullptr;
    call.nbits = nbits;
    call.tms = tms;
    call.tms_last = tms_last;
    if (tdo != nullptr && deliver_tdo) {
        for (int32_t i = 0; i < (nbits + 7) / 8; ++i)
            tdo[i] = 0;
    }
    for (int32_t i = 0; i < nbits; ++i) {
        const int bit = tdi != nullptr ? (tdi[i / 8] >> (7 - i % 8)) & 1 : 0;
        if (tdi != nullptr)
            call.tdi.push_back(bit);
        const int out = clock(i == nbits - 1 ? tms_last : tms, bit);
        if (tdo != nullptr && deliver_tdo && out != 0) {
            if (order == Order::LsbFirst)
                tdo[i / 8] = static_cast<uint8_t>(tdo[i / 8] | (1u << (i % 8)));
            else
                tdo[i / 8] = static_cast<uint8_t>(tdo[i / 8] | (0x80u >> (i % 8)));
        }
    }
    calls.push_back(std::move(call));
}

size_t Chain::count_calls(size_t from, int bits) const
{
    size_t n = 0;
    for (size_t i = from; i < calls.size(); ++i)
        n += calls[i].nbits >= bits ? 1 : 0;
    return n;
}

std::string Chain::tms_string(size_t from_cycle) const
{
    std::string s;
    for (size_t i = from_cycle; i < tms_trace.size(); ++i)
        s.push_back(tms_trace[i] ? '1' : '0');
    return s;
}

void reset_engine_state()
{
    chain = jtag_chain{};
    settings.bscan_tdo_chips = -1;
    settings.target_chosen_automatically = false;
    bitstream_part[0] = '\0';
}

} // namespace fake
