// The configuration memory of a Spartan-II: frames arrive word by word through
// FDRI at the frame address (FAR) and reach the array one frame late; FDRO reads
// them back from FAR on.
#pragma once

#include "parts.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace bench {

class FrameMemory {
public:
    explicit FrameMemory(const PartInfo &part);

    // As after PROGRAM: every frame zero, FAR and FLR 0, nothing in the pipeline.
    void clear();

    // FAR. A new address abandons the frame still in the pipeline.
    void set_address(uint32_t far);
    uint32_t address() const { return far_; }
    // FLR: words per frame minus one.
    void set_frame_length(uint32_t flr);
    uint32_t frame_length() const { return flr_; }

    // One FDRI word. A frame is complete after FLR + 1 words.
    void write_word(uint32_t w) {
        frame_in_[frame_fill_++] = w;
        if (frame_fill_ == frame_in_.size())
            frame_complete();
    }
    // Appends `count` FDRO words to `out`: a pad frame, then the frames from FAR
    // on; all zero when `blanked` (read-back forbidden). FAR is left as it was.
    void read_back(uint32_t count, bool blanked, std::deque<uint32_t> &out) const;

    const std::vector<uint32_t> &words() const { return memory_; }
    uint64_t digest() const { return memory_digest(memory_); }
    uint64_t frames_written() const { return frames_written_; }

private:
    void frame_complete();
    void commit_pending();
    int frame_index(uint32_t far) const; // linear frame index, -1 past the end
    uint32_t next_address(uint32_t far) const;

    const PartInfo &part_;
    std::vector<uint32_t> memory_;
    uint32_t far_ = 0;
    uint32_t flr_ = 0;

    // The frame being received and the one waiting for the next to arrive.
    std::vector<uint32_t> frame_in_;
    size_t frame_fill_ = 0;
    std::vector<uint32_t> pending_;
    int pending_index_ = -1;
    bool pending_valid_ = false;

    uint64_t frames_written_ = 0;
};

} // namespace bench
