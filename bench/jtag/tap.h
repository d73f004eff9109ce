// IEEE 1149.1 TAP controller and the device base that the chain models share.
#pragma once

#include <cstdint>

namespace bench {

enum class TapState : uint8_t {
    TestLogicReset,
    RunTestIdle,
    SelectDR,
    CaptureDR,
    ShiftDR,
    Exit1DR,
    PauseDR,
    Exit2DR,
    UpdateDR,
    SelectIR,
    CaptureIR,
    ShiftIR,
    Exit1IR,
    PauseIR,
    Exit2IR,
    UpdateIR,
};

// The state after a rising TCK edge with the given TMS.
TapState tap_next(TapState s, bool tms);
const char *tap_state_name(TapState s);

// One device of a JTAG chain: a TAP controller, an instruction register of
// ir_len bits and the data register the instruction selects. The common data
// registers (BYPASS, IDCODE and other fixed-length ones) are shifted here;
// a device with a register of its own overrides the custom_* hooks.
class JtagDevice {
public:
    JtagDevice(int ir_len, uint32_t idcode, bool has_idcode);
    virtual ~JtagDevice() = default;

    int ir_len() const { return ir_len_; }
    uint32_t idcode() const { return idcode_; }
    uint32_t instruction() const { return ir_; }
    TapState state() const { return state_; }
    bool tdo() const { return tdo_; }

    // Rising TCK: TMS and TDI are sampled, the register in a Capture or Shift
    // state acts, the controller moves on.
    void rise(bool tms, bool tdi) {
        switch (state_) {
        case TapState::CaptureDR:
            capture_dr();
            break;
        case TapState::ShiftDR:
            if (dr_custom_)
                custom_shift(tdi);
            else
                dr_ = (dr_ >> 1) | (uint64_t(tdi) << (dr_len_ - 1));
            break;
        case TapState::CaptureIR:
            ir_shift_ = ir_capture();
            break;
        case TapState::ShiftIR:
            ir_shift_ = (ir_shift_ >> 1) | (uint64_t(tdi) << (ir_len_ - 1));
            break;
        default:
            break;
        }
        if (tck_hook_)
            on_tck();
        state_ = tap_next(state_, tms);
        if (state_ == TapState::TestLogicReset && ir_ != reset_instruction())
            load_instruction(reset_instruction());
    }

    // Falling TCK: Update states latch, TDO changes. Outside the Shift states
    // TDO is not driven and the pull-up reads high.
    void fall() {
        if (state_ == TapState::ShiftDR) {
            tdo_ = dr_custom_ ? custom_out() : bool(dr_ & 1);
        } else if (state_ == TapState::ShiftIR) {
            tdo_ = ir_shift_ & 1;
        } else {
            tdo_ = true;
            if (state_ == TapState::UpdateIR)
                load_instruction(uint32_t(ir_shift_ & ((uint64_t(1) << ir_len_) - 1)));
            else if (state_ == TapState::UpdateDR)
                update_dr();
        }
    }

    // Power-on: Test-Logic-Reset with the reset instruction.
    virtual void power_on();

protected:
    // Instruction register capture value (the two lowest bits must be 01).
    virtual uint32_t ir_capture() const { return 1; }
    // Instruction that Test-Logic-Reset loads: IDCODE, or BYPASS without one.
    virtual uint32_t reset_instruction() const = 0;
    // Chooses the data register of instruction ir: calls select_fixed or
    // select_custom.
    virtual void select_register(uint32_t ir) = 0;
    // Capture value of a fixed register other than BYPASS/IDCODE.
    virtual uint64_t fixed_capture() const { return 0; }
    // A fixed register other than BYPASS/IDCODE passed Update-DR.
    virtual void fixed_update(uint64_t) {}
    virtual void custom_capture() {}
    virtual void custom_shift(bool) {}
    virtual bool custom_out() const { return true; }
    virtual void custom_update() {}
    virtual void on_tck() {}

    // Register kinds for select_register.
    void select_bypass() { select_fixed(FixedKind::Bypass, 1); }
    void select_idcode() { select_fixed(FixedKind::Idcode, 32); }
    void select_user_fixed(int len) { select_fixed(FixedKind::Other, len); }
    void select_custom() { dr_custom_ = true; }
    void set_tck_hook(bool on) { tck_hook_ = on; }

    uint32_t ir_all_ones() const { return uint32_t((uint64_t(1) << ir_len_) - 1); }

private:
    enum class FixedKind : uint8_t { Bypass, Idcode, Other };
    void select_fixed(FixedKind k, int len) {
        dr_custom_ = false;
        fixed_ = k;
        dr_len_ = len;
    }
    void load_instruction(uint32_t ir) {
        ir_ = ir;
        tck_hook_ = false;
        select_register(ir);
    }
    void capture_dr();
    void update_dr();

    int ir_len_;
    uint32_t idcode_;
    bool has_idcode_;
    TapState state_ = TapState::TestLogicReset;
    uint32_t ir_ = 0;
    uint64_t ir_shift_ = 0;
    uint64_t dr_ = 0;
    int dr_len_ = 1;
    bool dr_custom_ = false;
    bool tck_hook_ = false;
    bool tdo_ = true;
    FixedKind fixed_ = FixedKind::Bypass;

protected:
    bool has_idcode() const { return has_idcode_; }
};

// XC18V configuration PROM: 8-bit IR capturing 0x01, BYPASS 0xFF, IDCODE 0xFE,
// USERCODE 0xFD. Its programming instructions are not modelled; they select BYPASS.
class Prom : public JtagDevice {
public:
    explicit Prom(uint32_t idcode) : JtagDevice(8, idcode, true) { power_on(); }
    static constexpr uint32_t BYPASS = 0xFF, IDCODE = 0xFE, USERCODE = 0xFD;

protected:
    uint32_t reset_instruction() const override { return IDCODE; }
    void select_register(uint32_t ir) override;
    uint64_t fixed_capture() const override { return 0xFFFFFFFF; }
};

// Any other device: a given IDCODE and IR length. IDCODE is the all-ones
// opcode minus one, every other opcode selects BYPASS. An IDCODE with bit 0
// clear means the device has no IDCODE register: Test-Logic-Reset selects BYPASS.
class GenericDevice : public JtagDevice {
public:
    GenericDevice(uint32_t idcode, int ir_len) : JtagDevice(ir_len, idcode, idcode & 1) { power_on(); }
    uint32_t idcode_opcode() const { return ir_all_ones() - 1; }

protected:
    uint32_t reset_instruction() const override { return has_idcode() ? idcode_opcode() : ir_all_ones(); }
    void select_register(uint32_t ir) override;
};

} // namespace bench
