#include "bitgen.h"

#include <algorithm>
#include <stdexcept>

namespace bench {

namespace {

// splitmix64: a small, well-mixed generator so that every seed gives its own frames.
uint64_t mix(uint64_t &state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t header1_write(uint32_t reg, uint32_t count) { return 0x30000000u | (reg << 13) | count; }

constexpr uint32_t REG_CRC = 0, REG_FAR = 1, REG_FDRI = 2, REG_CMD = 4, REG_CTL = 5, REG_MASK = 6,
                   REG_COR = 9, REG_FLR = 11;

// Builds the word stream and keeps the CRC of the covered writes.
struct Writer {
    std::vector<uint32_t> w;
    uint16_t crc = 0;

    void reg(uint32_t r, uint32_t v) {
        w.push_back(header1_write(r, 1));
        w.push_back(v);
        feed(r, v);
    }
    void feed(uint32_t r, uint32_t v) {
        if (r == REG_CMD && v == 7) {
            crc = 0;
            return;
        }
        crc = crc_update(crc, r, v);
    }
    void fdri(const uint32_t *frames, size_t words) {
        for (size_t i = 0; i < words; i++) {
            w.push_back(frames[i]);
            feed(REG_FDRI, frames[i]);
        }
    }
    void check_crc() {
        // A correct check leaves the register at 0.
        uint32_t v = crc;
        w.push_back(header1_write(REG_CRC, 1));
        w.push_back(v);
        crc = crc_update(crc, REG_CRC, v);
    }
};

} // namespace

std::vector<uint32_t> frame_image(const PartInfo &part, uint64_t seed) {
    size_t fw = size_t(part.frame_words());
    std::vector<uint32_t> mem(part.memory_words());
    uint64_t state = seed;
    for (size_t f = 0; f < size_t(part.total_frames()); f++) {
        // The last word of every frame is its pad word and stays 0.
        for (size_t i = 0; i + 1 < fw; i++)
            mem[f * fw + i] = uint32_t(mix(state));
    }
    return mem;
}

Bitstream generate_bitstream(const BitgenOptions &opt) {
    const PartInfo *part = find_part(opt.part);
    if (!part)
        throw std::invalid_argument("unknown part '" + opt.part + "' (2s15 2s30 2s50 2s100 2s150 2s200)");
    const size_t fw = size_t(part->frame_words());
    const size_t t0 = size_t(part->type0_frames());
    const size_t bram = PartInfo::bram_frames_per_column;
    std::vector<uint32_t> mem = frame_image(*part, opt.seed);
    std::vector<uint32_t> zero_frame(fw, 0);

    Writer g;
    g.w.push_back(0xFFFFFFFF);
    g.w.push_back(0xAA995566);
    g.reg(REG_CMD, 7); // RCRC
    g.reg(REG_FLR, uint32_t(fw - 1));
    g.reg(REG_COR, opt.startup_jtag ? cor_startup_jtag : cor_startup_cclk);
    g.reg(REG_MASK, 0);
    g.reg(REG_CMD, 9); // SWITCH
    g.reg(REG_FAR, far_value(0, 0, 0));
    g.reg(REG_CMD, 1); // WCFG
    // Every block-0 frame and one pad frame that pushes the last one in.
    g.w.push_back(header1_write(REG_FDRI, 0));
    g.w.push_back(0x50000000u | uint32_t((t0 + 1) * fw));
    g.fdri(mem.data(), t0 * fw);
    g.fdri(zero_frame.data(), fw);
    // Block-RAM column 0 with its pad frame, column 1 without.
    g.reg(REG_FAR, far_value(1, 0, 0));
    g.w.push_back(header1_write(REG_FDRI, uint32_t((bram + 1) * fw)));
    g.fdri(mem.data() + t0 * fw, bram * fw);
    g.fdri(zero_frame.data(), fw);
    g.reg(REG_FAR, far_value(1, 1, 0));
    g.w.push_back(header1_write(REG_FDRI, uint32_t(bram * fw)));
    g.fdri(mem.data() + (t0 + bram) * fw, bram * fw);
    g.check_crc();
    // LFRM and one zero frame flush the last frame into the array.
    g.reg(REG_CMD, 3);
    g.w.push_back(header1_write(REG_FDRI, uint32_t(fw)));
    g.fdri(zero_frame.data(), fw);
    g.reg(REG_CMD, 5); // START
    g.reg(REG_CTL, 0);
    g.check_crc();
    for (int i = 0; i < 4; i++)
        g.w.push_back(0);

    Bitstream b;
    b.part = part;
    b.words = std::move(g.w);
    if (opt.corrupt_word >= 0) {
        if (size_t(opt.corrupt_word) >= b.words.size())
            throw std::invalid_argument("corrupt word " + std::to_string(opt.corrupt_word) + " is past the last word (" +
                                        std::to_string(b.words.size() - 1) + ")");
        b.words[size_t(opt.corrupt_word)] ^= 1;
    }
    b.data.reserve(b.words.size() * 4);
    for (uint32_t w : b.words)
        for (int s = 24; s >= 0; s -= 8)
            b.data.push_back(uint8_t(w >> s));
    b.digest = memory_digest(mem);
    b.file = bit_file(opt, b.data);
    return b;
}

std::vector<uint8_t> bit_file(const BitgenOptions &opt, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> f = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    const PartInfo *part = find_part(opt.part);
    std::string part_name = part ? std::string(part->name) + part->package : opt.part;
    auto field = [&f](char key, const std::string &text) {
        // The stored length counts the terminating NUL, as the vendor tools write it.
        size_t len = std::min<size_t>(text.size(), 0xFFFE) + 1;
        f.push_back(uint8_t(key));
        f.push_back(uint8_t(len >> 8));
        f.push_back(uint8_t(len));
        f.insert(f.end(), text.begin(), text.begin() + long(len - 1));
        f.push_back(0);
    };
    field('a', opt.design);
    field('b', part_name);
    field('c', opt.date);
    field('d', opt.time);
    f.push_back('e');
    uint32_t n = uint32_t(data.size());
    for (int s = 24; s >= 0; s -= 8)
        f.push_back(uint8_t(n >> s));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

} // namespace bench
