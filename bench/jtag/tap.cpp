#include "tap.h"

namespace bench {

namespace {
using S = TapState;
// next[state][tms]
constexpr S next_state[16][2] = {
    {S::RunTestIdle, S::TestLogicReset}, // TestLogicReset
    {S::RunTestIdle, S::SelectDR},       // RunTestIdle
    {S::CaptureDR, S::SelectIR},         // SelectDR
    {S::ShiftDR, S::Exit1DR},            // CaptureDR
    {S::ShiftDR, S::Exit1DR},            // ShiftDR
    {S::PauseDR, S::UpdateDR},           // Exit1DR
    {S::PauseDR, S::Exit2DR},            // PauseDR
    {S::ShiftDR, S::UpdateDR},           // Exit2DR
    {S::RunTestIdle, S::SelectDR},       // UpdateDR
    {S::CaptureIR, S::TestLogicReset},   // SelectIR
    {S::ShiftIR, S::Exit1IR},            // CaptureIR
    {S::ShiftIR, S::Exit1IR},            // ShiftIR
    {S::PauseIR, S::UpdateIR},           // Exit1IR
    {S::PauseIR, S::Exit2IR},            // PauseIR
    {S::ShiftIR, S::UpdateIR},           // Exit2IR
    {S::RunTestIdle, S::SelectDR},       // UpdateIR
};
constexpr const char *names[16] = {
    "Test-Logic-Reset", "Run-Test/Idle", "Select-DR-Scan", "Capture-DR", "Shift-DR", "Exit1-DR",
    "Pause-DR", "Exit2-DR", "Update-DR", "Select-IR-Scan", "Capture-IR", "Shift-IR",
    "Exit1-IR", "Pause-IR", "Exit2-IR", "Update-IR",
};
} // namespace

TapState tap_next(TapState s, bool tms) { return next_state[int(s)][tms ? 1 : 0]; }
const char *tap_state_name(TapState s) { return names[int(s)]; }

JtagDevice::JtagDevice(int ir_len, uint32_t idcode, bool has_idcode)
    : ir_len_(ir_len), idcode_(idcode), has_idcode_(has_idcode) {}

void JtagDevice::power_on() {
    state_ = TapState::TestLogicReset;
    ir_shift_ = 0;
    dr_ = 0;
    tdo_ = true;
    load_instruction(reset_instruction());
}

void JtagDevice::capture_dr() {
    if (dr_custom_) {
        custom_capture();
        return;
    }
    switch (fixed_) {
    case FixedKind::Bypass:
        dr_ = 0;
        break;
    case FixedKind::Idcode:
        dr_ = idcode_;
        break;
    case FixedKind::Other:
        dr_ = fixed_capture();
        break;
    }
}

void JtagDevice::update_dr() {
    if (dr_custom_)
        custom_update();
    else if (fixed_ == FixedKind::Other)
        fixed_update(dr_);
}

void Prom::select_register(uint32_t ir) {
    if (ir == IDCODE)
        select_idcode();
    else if (ir == USERCODE)
        select_user_fixed(32);
    else
        select_bypass();
}

void GenericDevice::select_register(uint32_t ir) {
    if (has_idcode() && ir == idcode_opcode())
        select_idcode();
    else
        select_bypass();
}

} // namespace bench
