// The target side as a cable sees it: a supply it can sense, JTAG and slave-serial
// pins it can drive, TDO and DONE it can read, and time that passes while it works.
#pragma once

#include <cstdint>

namespace bench {

class TargetLines {
public:
    virtual ~TargetLines() = default;
    virtual bool powered() const = 0;
    virtual void set_jtag(bool tck, bool tms, bool tdi) = 0;
    virtual bool tdo() const = 0;
    virtual void set_serial(bool prog_b, bool cclk, bool din) = 0;
    virtual bool done_pin() const = 0;
    virtual void elapse_ns(uint64_t ns) = 0;
};

// Lines over any object with the bench::Target pin interface.
template <class T> class LinesOf final : public TargetLines {
public:
    explicit LinesOf(T &target) : t_(target) {}
    bool powered() const override { return t_.powered(); }
    void set_jtag(bool tck, bool tms, bool tdi) override { t_.set_jtag(tck, tms, tdi); }
    bool tdo() const override { return t_.tdo(); }
    void set_serial(bool prog_b, bool cclk, bool din) override { t_.set_serial(prog_b, cclk, din); }
    bool done_pin() const override { return t_.done_pin(); }
    void elapse_ns(uint64_t ns) override { t_.elapse_ns(ns); }

private:
    T &t_;
};

} // namespace bench
