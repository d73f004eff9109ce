#include "frame_memory.h"

#include <algorithm>

namespace bench {

namespace {
// Largest frame the FLR can describe here; longer values are cut to this.
constexpr uint32_t max_frame_words = 4096;

// FAR fields: block type 26..25, major column 24..17, minor frame 16..9.
int far_block(uint32_t far) { return int((far >> 25) & 3); }
int far_major(uint32_t far) { return int((far >> 17) & 0xFF); }
int far_minor(uint32_t far) { return int((far >> 9) & 0xFF); }
} // namespace

FrameMemory::FrameMemory(const PartInfo &part) : part_(part), memory_(part.memory_words(), 0) { clear(); }

void FrameMemory::clear() {
    std::fill(memory_.begin(), memory_.end(), 0);
    far_ = flr_ = 0;
    frame_in_.assign(1, 0);
    pending_.assign(1, 0);
    frame_fill_ = 0;
    pending_valid_ = false;
    pending_index_ = -1;
    frames_written_ = 0;
}

void FrameMemory::set_address(uint32_t far) {
    far_ = far;
    pending_valid_ = false;
    frame_fill_ = 0;
}

void FrameMemory::set_frame_length(uint32_t flr) {
    flr_ = flr;
    // Widened first: an FLR of all ones must not wrap to an empty frame buffer.
    frame_in_.assign(size_t(std::min<uint64_t>(uint64_t(flr) + 1, max_frame_words)), 0);
    pending_.assign(frame_in_.size(), 0);
    frame_fill_ = 0;
    pending_valid_ = false;
}

// A frame reaches the array only when the next one has arrived.
void FrameMemory::frame_complete() {
    frame_fill_ = 0;
    commit_pending();
    std::swap(pending_, frame_in_);
    pending_index_ = frame_index(far_);
    pending_valid_ = true;
    far_ = next_address(far_);
}

void FrameMemory::commit_pending() {
    if (!pending_valid_)
        return;
    pending_valid_ = false;
    if (pending_index_ < 0)
        return; // a pad frame past the last frame
    size_t fw = size_t(part_.frame_words());
    uint32_t *dst = memory_.data() + size_t(pending_index_) * fw;
    size_t n = std::min(fw, pending_.size());
    std::copy(pending_.begin(), pending_.begin() + long(n), dst);
    std::fill(dst + n, dst + fw, 0);
    frames_written_++;
}

void FrameMemory::read_back(uint32_t count, bool blanked, std::deque<uint32_t> &out) const {
    size_t fw = size_t(part_.frame_words());
    count = uint32_t(std::min<size_t>(count, memory_.size() + fw));
    uint32_t far = far_;
    size_t in_frame = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t w = 0;
        if (!blanked && i >= fw) {
            int idx = frame_index(far);
            if (idx >= 0)
                w = memory_[size_t(idx) * fw + in_frame];
            if (++in_frame == fw) {
                in_frame = 0;
                far = next_address(far);
            }
        }
        out.push_back(w);
    }
}

int FrameMemory::frame_index(uint32_t far) const {
    const int block = far_block(far), major = far_major(far), minor = far_minor(far);
    if (block == 0) {
        if (minor >= part_.column_frames(major))
            return -1;
        int start = 0;
        for (int m = 0; m < major; m++)
            start += part_.column_frames(m);
        return start + minor;
    }
    if (block == 1 && major < 2 && minor < PartInfo::bram_frames_per_column)
        return part_.type0_frames() + major * PartInfo::bram_frames_per_column + minor;
    return -1;
}

uint32_t FrameMemory::next_address(uint32_t far) const {
    uint32_t major = uint32_t(far_major(far)), minor = uint32_t(far_minor(far));
    int frames = far_block(far) == 0 ? part_.column_frames(int(major)) : PartInfo::bram_frames_per_column;
    minor++;
    if (int(minor) >= frames) {
        minor = 0;
        major = (major + 1) & 0xFF;
    }
    return (far & ~0x01FFFE00u) | (major << 17) | (minor << 9);
}

} // namespace bench
