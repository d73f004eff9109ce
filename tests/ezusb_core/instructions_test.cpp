// Instruction groups against their documented results, flags and cycle counts:
// small hand-assembled programs that end in a jump to themselves.
#include "core_test_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bench::ezusb::test {
namespace {

constexpr uint8_t ACC = 0xE0, B = 0xF0, PSW = 0xD0, SP = 0x81, DPS = 0x86;
constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

struct Arith {
    const char *name;
    uint8_t op;  // 0x24 ADD, 0x34 ADDC, 0x94 SUBB (immediate forms)
    uint8_t a, v;
    bool carry_in;
    uint8_t result, flags;  // flags: CY|AC|OV as expected
};

TEST(Instructions, ArithmeticFlags) {
    const Arith cases[] = {
        {"add half carry", 0x24, 0x0F, 0x01, false, 0x10, AC},
        {"add signed overflow", 0x24, 0x7F, 0x01, false, 0x80, AC | OV},
        {"add wraps to zero", 0x24, 0xFF, 0x01, false, 0x00, CY | AC},
        {"add two negatives", 0x24, 0x80, 0x80, false, 0x00, CY | OV},
        {"add ignores carry in", 0x24, 0x01, 0x01, true, 0x02, 0},
        {"addc carry in wraps", 0x34, 0x00, 0xFF, true, 0x00, CY | AC},
        {"addc into sign bit", 0x34, 0x3A, 0x45, true, 0x80, AC | OV},
        {"subb borrow", 0x94, 0x00, 0x01, false, 0xFF, CY | AC},
        {"subb signed overflow", 0x94, 0x80, 0x01, false, 0x7F, AC | OV},
        {"subb positive minus negative", 0x94, 0x7F, 0xFF, false, 0x80, CY | OV},
        {"subb with borrow in", 0x94, 0x10, 0x0F, true, 0x00, AC},
    };
    for (const Arith &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.bus.load({0x74, c.a, static_cast<uint8_t>(c.carry_in ? 0xD3 : 0xC3), c.op, c.v, 0x80, 0xFE});
        EXPECT_EQ(rig.run(), 8u);
        EXPECT_EQ(rig.a(), c.result);
        EXPECT_EQ(rig.psw() & (CY | AC | OV), c.flags);
        EXPECT_EQ(rig.psw() & 1, __builtin_parity(c.result));
    }
}

TEST(Instructions, DecimalAdjust) {
    struct { uint8_t a, v, result; bool carry; } cases[] = {
        {0x19, 0x28, 0x47, false},  // half carry from the add
        {0x99, 0x01, 0x00, true},   // both digits adjust
        {0x56, 0x67, 0x23, true},
        {0x80, 0x80, 0x60, true},   // carry from the add forces the high digit
        {0x15, 0x24, 0x39, false},  // nothing to adjust
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.a) << "+" << int(c.v));
        Rig rig;
        rig.bus.load({0x74, c.a, 0x24, c.v, 0xD4, 0x80, 0xFE});
        EXPECT_EQ(rig.run(), 8u);
        EXPECT_EQ(rig.a(), c.result);
        EXPECT_EQ((rig.psw() & CY) != 0, c.carry);
    }
}

// Where a program leaves its result: internal RAM, an SFR (under a mask),
// xdata, the cycle count or the PC.
struct Expect {
    enum Space { Iram, Sfr, Xram, Cycles, Pc } space;
    uint32_t addr;
    uint64_t value;
    uint8_t mask = 0xFF;
};
Expect I(uint32_t a, uint64_t v) { return {Expect::Iram, a, v}; }
Expect S(uint32_t a, uint64_t v, uint8_t mask = 0xFF) { return {Expect::Sfr, a, v, mask}; }
Expect X(uint32_t a, uint64_t v) { return {Expect::Xram, a, v}; }
Expect Cyc(uint64_t v) { return {Expect::Cycles, 0, v}; }
Expect Pc(uint64_t v) { return {Expect::Pc, 0, v}; }

struct Chunk {
    uint16_t at;
    std::vector<uint8_t> bytes;
};
struct Program {
    const char *name;
    std::vector<Chunk> code;
    std::vector<Expect> expect;
};

TEST(Instructions, Programs) {
    const Program programs[] = {
        {"movc from dptr and pc",
         {{0x00, {0x90, 0x00, 0x10, 0x74, 0x02, 0x93, 0xF8, 0x74, 0x05, 0x83, 0x80, 0xFE}},
          {0x0F, {0x5A, 0x11, 0x22, 0x33}}},
         {I(0x00, 0x33), S(ACC, 0x5A), Cyc(17), Pc(0x0A)}},
        {"movx through both pointers and mpage",
         {{0x00, {0x75, 0x8E, 0x00, 0x90, 0x12, 0x34, 0x05, 0x86, 0x90, 0x05, 0x00, 0x74, 0xAB,
                  0xF0, 0x05, 0x86, 0x04, 0xF0, 0x75, 0x92, 0x07, 0x78, 0x99, 0xF2, 0x85, 0x85,
                  0x30, 0x05, 0x86, 0xE0, 0x80, 0xFE}}},
         {X(0x0500, 0xAB), X(0x1234, 0xAC), X(0x0799, 0xAC), I(0x30, 0x05), S(ACC, 0xAB),
          S(DPS, 1), S(0x82, 0x34), S(0x83, 0x12), S(0x84, 0x00), S(0x85, 0x05), Cyc(37)}},
        {"movx @r1 both ways, stretched by the reset ckcon",
         {{0x00, {0x75, 0x92, 0x07, 0x79, 0x99, 0x74, 0x3C, 0xF3, 0xE4, 0xE3, 0x80, 0xFE}}},
         {X(0x0799, 0x3C), S(ACC, 0x3C), Cyc(17)}},
        {"inc dptr carries, in the selected pointer only",
         {{0x00, {0x90, 0x00, 0xFF, 0xA3, 0x05, 0x86, 0x90, 0xFF, 0xFF, 0xA3, 0x80, 0xFE}}},
         {S(0x82, 0x00), S(0x83, 0x01), S(0x84, 0x00), S(0x85, 0x00), Cyc(17)}},
        {"lcall, acall and ret",
         {{0x00, {0x75, 0x81, 0x40, 0x12, 0x00, 0x10, 0x11, 0x20, 0x80, 0xFE}},
          {0x10, {0x74, 0x11, 0x22}},
          {0x20, {0x24, 0x01, 0x22}}},
         {S(ACC, 0x12), S(SP, 0x40), I(0x41, 0x08), I(0x42, 0x00), Cyc(25), Pc(0x08)}},
        {"push and pop",
         {{0x00, {0x75, 0x81, 0x50, 0x74, 0x5A, 0xC0, 0xE0, 0x75, 0xF0, 0xA5, 0xC0, 0xF0, 0xD0,
                  0xE0, 0xD0, 0xF0, 0x80, 0xFE}}},
         {S(ACC, 0xA5), S(B, 0x5A), S(SP, 0x50), I(0x51, 0x5A), I(0x52, 0xA5), Cyc(19)}},
        {"djnz loop, indirect, register bank 1",
         {{0x00, {0xE4, 0x7A, 0x0A, 0x2A, 0xDA, 0xFD, 0x78, 0x40, 0xF6, 0x06, 0xD2, 0xD3, 0x78,
                  0x77, 0x80, 0xFE}}},
         {S(ACC, 55), I(0x40, 56), I(0x02, 0), I(0x00, 0x40), I(0x08, 0x77),
          S(PSW, 0x09, 0x19), Cyc(54)}},
        {"cjne jumps on unequal and sets carry on less",
         {{0x00, {0x74, 0x05, 0xB4, 0x07, 0x02, 0x74, 0x99, 0x80, 0xFE}}},
         {S(ACC, 0x05), S(PSW, CY, CY), Cyc(9), Pc(0x07)}},
        {"rotates, swap and xchd",
         {{0x00, {0x74, 0x81, 0xC3, 0x13, 0x33, 0x23, 0x03, 0xC4, 0x78, 0x30, 0x76, 0xCD, 0xD6,
                  0x80, 0xFE}}},
         {S(ACC, 0x1D), I(0x30, 0xC8), S(PSW, 0, CY)}},
        {"mul and div",
         {{0x00, {0x74, 0x50, 0x75, 0xF0, 0xA0, 0xA4, 0xF5, 0x30, 0x85, 0xF0, 0x31, 0x74, 0xFB,
                  0x75, 0xF0, 0x12, 0x84, 0x80, 0xFE}}},
         {I(0x30, 0x00), I(0x31, 0x32), S(ACC, 0x0D), S(B, 0x11), S(PSW, 0, CY | OV), Cyc(28)}},
        {"div by zero sets ov and keeps a",
         {{0x00, {0x74, 0x10, 0x75, 0xF0, 0x00, 0x84, 0x80, 0xFE}}},
         {S(ACC, 0x10), S(PSW, OV, CY | OV)}},
        {"mul overflow flag",
         {{0x00, {0x74, 0x50, 0x75, 0xF0, 0xA0, 0xA4, 0x80, 0xFE}}},
         {S(ACC, 0x00), S(B, 0x32), S(PSW, OV, CY | OV)}},
        {"bit operations in ram and sfr space",
         {{0x00, {0xD2, 0x00, 0xD2, 0x0F, 0xB2, 0x00, 0xA2, 0x0F, 0xB0, 0x00, 0x92, 0x01, 0xC3,
                  0x72, 0x0F, 0xD2, 0xF3, 0x10, 0x0F, 0x00, 0x20, 0x0F, 0x02, 0x74, 0x11, 0x80,
                  0xFE}}},
         {I(0x20, 0x02), I(0x21, 0x00), S(B, 0x08), S(PSW, CY, CY), S(ACC, 0x11)}},
        {"logic on direct and immediate",
         {{0x00, {0x75, 0x30, 0xF0, 0x74, 0x3C, 0x42, 0x30, 0x53, 0x30, 0x0F, 0x63, 0x30, 0xFF,
                  0x45, 0x30, 0x54, 0x0F, 0x64, 0xAA, 0x80, 0xFE}}},
         {I(0x30, 0xF3), S(ACC, 0xA5)}},
        {"inc, dec and xch forms",
         {{0x00, {0x78, 0x30, 0x76, 0x05, 0x16, 0x15, 0x30, 0x05, 0x30, 0x74, 0x99, 0xC5, 0x30,
                  0xC6, 0x14, 0x80, 0xFE}}},
         {S(ACC, 0x98), I(0x30, 0x04)}},
        {"djnz direct and jmp @a+dptr",
         {{0x00, {0x75, 0x30, 0x03, 0xD5, 0x30, 0xFD, 0x90, 0x00, 0x20, 0x74, 0x04, 0x73}},
          {0x24, {0x80, 0xFE}}},
         {I(0x30, 0x00), Pc(0x24), Cyc(26)}},
        {"parity follows a, a psw write cannot set it",
         {{0x00, {0x74, 0x07, 0x85, 0xD0, 0x30, 0x74, 0x03, 0x75, 0xD0, 0x01, 0x80, 0xFE}}},
         {I(0x30, 0x01), S(PSW, 0x00)}},
        {"undefined 0xa5 is a one-byte nop", {{0x00, {0xA5, 0x80, 0xFE}}}, {Cyc(4), Pc(0x01)}},
        {"ljmp to itself ends the run", {{0x00, {0x02, 0x00, 0x00}}}, {Cyc(4), Pc(0x00)}},
        {"ajmp to itself ends the run",
         {{0x00, {0x02, 0x01, 0x00}}, {0x100, {0x21, 0x00}}},
         {Cyc(7), Pc(0x100)}},
    };
    for (const Program &p : programs) {
        SCOPED_TRACE(p.name);
        Rig rig;
        for (const Chunk &c : p.code)
            std::copy(c.bytes.begin(), c.bytes.end(), rig.bus.code.begin() + c.at);
        uint64_t cycles = rig.run();
        ASSERT_TRUE(rig.cpu.at_self_jump());
        for (const Expect &e : p.expect) {
            SCOPED_TRACE(testing::Message() << "space " << e.space << " addr 0x" << std::hex << e.addr);
            switch (e.space) {
            case Expect::Iram: EXPECT_EQ(rig.cpu.iram()[e.addr], e.value); break;
            case Expect::Sfr: EXPECT_EQ(rig.cpu.sfr(e.addr) & e.mask, e.value); break;
            case Expect::Xram: EXPECT_EQ(rig.bus.xram[e.addr], e.value); break;
            case Expect::Cycles: EXPECT_EQ(cycles, e.value); break;
            case Expect::Pc: EXPECT_EQ(rig.cpu.pc(), e.value); break;
            }
        }
    }
}

// Bytes/cycles per opcode as the datasheet lays them out: a line per high
// nibble, cells for the columns x0, x2, x3, x4, x5, x6-x7 and x8-xF (column
// x1 is AJMP or ACALL, 2/3). MOVX cycles are those with no stretch.
struct Cell {
    const char *name;
    uint8_t bytes, cycles;
};
const Cell kDatasheet[16][7] = {
    {{"NOP", 1, 1}, {"LJMP", 3, 4}, {"RR", 1, 1}, {"INC", 1, 1}, {"INC", 2, 2}, {"INC", 1, 1}, {"INC", 1, 1}},
    {{"JBC", 3, 4}, {"LCALL", 3, 4}, {"RRC", 1, 1}, {"DEC", 1, 1}, {"DEC", 2, 2}, {"DEC", 1, 1}, {"DEC", 1, 1}},
    {{"JB", 3, 4}, {"RET", 1, 4}, {"RL", 1, 1}, {"ADD", 2, 2}, {"ADD", 2, 2}, {"ADD", 1, 1}, {"ADD", 1, 1}},
    {{"JNB", 3, 4}, {"RETI", 1, 4}, {"RLC", 1, 1}, {"ADDC", 2, 2}, {"ADDC", 2, 2}, {"ADDC", 1, 1}, {"ADDC", 1, 1}},
    {{"JC", 2, 3}, {"ORL", 2, 2}, {"ORL", 3, 3}, {"ORL", 2, 2}, {"ORL", 2, 2}, {"ORL", 1, 1}, {"ORL", 1, 1}},
    {{"JNC", 2, 3}, {"ANL", 2, 2}, {"ANL", 3, 3}, {"ANL", 2, 2}, {"ANL", 2, 2}, {"ANL", 1, 1}, {"ANL", 1, 1}},
    {{"JZ", 2, 3}, {"XRL", 2, 2}, {"XRL", 3, 3}, {"XRL", 2, 2}, {"XRL", 2, 2}, {"XRL", 1, 1}, {"XRL", 1, 1}},
    {{"JNZ", 2, 3}, {"ORL", 2, 2}, {"JMP", 1, 3}, {"MOV", 2, 2}, {"MOV", 3, 3}, {"MOV", 2, 2}, {"MOV", 2, 2}},
    {{"SJMP", 2, 3}, {"ANL", 2, 2}, {"MOVC", 1, 3}, {"DIV", 1, 5}, {"MOV", 3, 3}, {"MOV", 2, 2}, {"MOV", 2, 2}},
    {{"MOV", 3, 3}, {"MOV", 2, 2}, {"MOVC", 1, 3}, {"SUBB", 2, 2}, {"SUBB", 2, 2}, {"SUBB", 1, 1}, {"SUBB", 1, 1}},
    {{"ORL", 2, 2}, {"MOV", 2, 2}, {"INC", 1, 3}, {"MUL", 1, 5}, {"(undefined)", 1, 1}, {"MOV", 2, 2}, {"MOV", 2, 2}},
    {{"ANL", 2, 2}, {"CPL", 2, 2}, {"CPL", 1, 1}, {"CJNE", 3, 4}, {"CJNE", 3, 4}, {"CJNE", 3, 4}, {"CJNE", 3, 4}},
    {{"PUSH", 2, 2}, {"CLR", 2, 2}, {"CLR", 1, 1}, {"SWAP", 1, 1}, {"XCH", 2, 2}, {"XCH", 1, 1}, {"XCH", 1, 1}},
    {{"POP", 2, 2}, {"SETB", 2, 2}, {"SETB", 1, 1}, {"DA", 1, 1}, {"DJNZ", 3, 4}, {"XCHD", 1, 1}, {"DJNZ", 2, 3}},
    {{"MOVX", 1, 2}, {"MOVX", 1, 2}, {"MOVX", 1, 2}, {"CLR", 1, 1}, {"MOV", 2, 2}, {"MOV", 1, 1}, {"MOV", 1, 1}},
    {{"MOVX", 1, 2}, {"MOVX", 1, 2}, {"MOVX", 1, 2}, {"CPL", 1, 1}, {"MOV", 2, 2}, {"MOV", 1, 1}, {"MOV", 1, 1}},
};

// Every opcode's row against the datasheet, and the core taking that many
// cycles for it (zero operands, CKCON.MD = 0).
TEST(Instructions, OpcodeTableMatchesTheDatasheet) {
    constexpr int kColumn[16] = {0, -1, 1, 2, 3, 4, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6};
    Rig rig;
    for (int op = 0; op < 256; ++op) {
        const Cell c = (op & 15) == 1 ? Cell{op & 0x10 ? "ACALL" : "AJMP", 2, 3}
                                      : kDatasheet[op >> 4][kColumn[op & 15]];
        const Cpu8051::Opcode &row = Cpu8051::kOpcodes[op];
        SCOPED_TRACE(testing::Message() << std::hex << op << " " << row.mnemonic);
        EXPECT_EQ(row.code, op);
        const std::string mnemonic = row.mnemonic;
        EXPECT_EQ(mnemonic.substr(0, mnemonic.find(' ')), c.name);
        EXPECT_EQ(row.bytes, c.bytes);
        EXPECT_EQ(row.cycles, c.cycles);
        rig.bus.load({static_cast<uint8_t>(op), 0, 0});
        rig.cpu.reset();
        rig.cpu.set_sfr(0x8E, 0);
        EXPECT_EQ(rig.cpu.step(), c.cycles);
    }
}

TEST(Instructions, MovxStretchFollowsCkcon) {
    struct { uint8_t op, md; unsigned cycles; } cases[] = {
        {0xE0, 0, 2}, {0xE0, 1, 3}, {0xF0, 7, 9}, {0xF2, 3, 5}, {0xE3, 0, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.op) << " md " << int(c.md));
        Rig rig;
        rig.bus.load({c.op});
        rig.cpu.set_sfr(0x8E, c.md);
        EXPECT_EQ(rig.cpu.step(), c.cycles);
    }
}

TEST(Instructions, DptrRegistersAddressTheirOwnPointer) {
    Rig rig;
    rig.cpu.set_sfr(DPS, 0xFF);
    EXPECT_EQ(rig.cpu.sfr(DPS), 0x01);  // only SEL is writable
    rig.cpu.set_sfr(0x82, 0x11);
    rig.cpu.set_sfr(0x85, 0x22);
    EXPECT_EQ(rig.cpu.dptr(0), 0x0011);
    EXPECT_EQ(rig.cpu.dptr(1), 0x2200);
    EXPECT_EQ(rig.cpu.sfr(0x80), 0x00);  // no port SFRs on this chip
}

} // namespace
} // namespace bench::ezusb::test
