// The configuration run: one pass per configuration, and in continuous mode
// the wait for a new file between passes.
#include "run.h"

#include <chrono>
#include <cstdint>
#include <cstring>

#include "console.h"
#include "driver_binding.h"
#include "interrupt.h"
#include "names.h"
#include "platform.h"
#include "settings.h"
#include "vokisp_jtag.h"
#include "xcclk.h"
#include "xilinxbit.h"

namespace {

constexpr uint32_t ERR_UNNAMED = 0x07FF; // strategy bits with no report item

bitfile *open_bitstream(bitfile_shortfall &why)
{
    return open_typed_then_lower(settings.filename_typed, settings.filename,
                                 [&why](const char *path) { return bitfile_open_checked(path, &why); });
}

void say_incomplete(const bitfile_shortfall &why)
{
    say("Bitstream file '%s' is not complete: its header announces %u bytes of configuration data, "
        "%llu are there\n",
        printable(settings.filename).c_str(), why.announced, static_cast<unsigned long long>(why.present));
}

void print_report(uint32_t err)
{
    if (err == 0) {
        say("Complete!\n");
        return;
    }
    say("Error ! ");
    if (err & ERR_PROBE)
        say(",probe");
    if (err & ERR_FILE)
        say(",file");
    if (err & ERR_TARGET)
        say(",target");
    if (err & ERR_POWER)
        say(",power");
    if (err & ERR_DRIVER)
        say(",driver");
    say("\n");
}

void print_file_block(const bitfile *bf)
{
    say("MODE          %s\n", md_str[settings.config_mode]);
    say("ConfigFile    '%s'\n", printable(settings.filename).c_str());
    say(" -Netname     '%s'\n", printable(bf->net_name, BIT_TEXT_SIZE).c_str());
    say(" -TargetDeive '%s'[%08X]\n", printable(bf->part_name, BIT_TEXT_SIZE).c_str(), bf->idcode);
    say(" -TimeStamp   '%s %s'\n", printable(bf->date, BIT_TEXT_SIZE).c_str(),
        printable(bf->time, BIT_TEXT_SIZE).c_str());
    say(" -ConfigSize  %llubits(%ubytes)\n", static_cast<unsigned long long>(bf->length) * 8u, bf->length);
    say("---------------------------------------------------------------\n");
}

// Time stamp of the last file configured (or tried and failed); a stamp that
// is not valid matches no file, so any file found is configured.
struct stamp {
    bool valid = false;
    char date[BIT_TEXT_SIZE] = "";
    char time[BIT_TEXT_SIZE] = "";

    void forget() { *this = stamp{}; }
    void take(const bitfile *bf)
    {
        valid = true;
        std::memcpy(date, bf->date, sizeof date);
        std::memcpy(time, bf->time, sizeof time);
    }
    bool matches(const bitfile *bf) const
    {
        return valid && std::strcmp(date, bf->date) == 0 && std::strcmp(time, bf->time) == 0;
    }
};

// What continuous mode watches between passes: the target supply and, after a
// configuration that ended with DONE high, DONE itself. Either one lost means
// the FPGA no longer holds the remembered design, which is then forgotten so
// that the same file is configured again.
class target_watch {
public:
    static constexpr std::chrono::milliseconds period{100};

    // The pass just ended. DONE is watched only after a configuration, and only
    // when the watch itself reads it high then: a cable whose reading does not
    // follow DONE must not configure the FPGA again and again.
    void pass_ended(bool configured)
    {
        done_high_ = configured && driver.sh_done_level != nullptr && driver.sh_done_level() == 1;
        lost_ = false;
        last_ = std::chrono::steady_clock::now();
    }

    // True once the FPGA has lost its design and the supply is on: it can be
    // configured again.
    bool sample(stamp &remembered)
    {
        last_ = std::chrono::steady_clock::now();
        if (driver.sh_power() == 0) {
            say("Target Power Down\n");
            remembered.forget();
            done_high_ = false;
            lost_ = true;
            return false;
        }
        if (done_high_ && driver.sh_done_level() == 0) {
            say("DONE is low: the FPGA lost its configuration\n");
            remembered.forget();
            done_high_ = false;
            lost_ = true;
        }
        return lost_;
    }

    // Sleeps until the next sample is due, one period after the last one began.
    void pace() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            last_ + period - std::chrono::steady_clock::now());
        if (left.count() > 0)
            platform_sleep_ms(static_cast<uint32_t>(left.count()));
    }

private:
    bool done_high_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::time_point last_{};
};

constexpr uint32_t PASS_PAUSE_MS = 1000;

// The pause after a pass that is followed by a wait: watched like the wait,
// and cut short once a lost design can be configured again.
void pause_watching(target_watch &watch, stamp &remembered)
{
    for (uint32_t i = 0; i < PASS_PAUSE_MS / target_watch::period.count(); ++i) {
        watch.pace();
        if (watch.sample(remembered))
            return;
    }
}

// Continuous mode: polls until the bitstream file exists, whole, with a time
// stamp other than the remembered one, while the watch samples the target. A
// file that is not whole yet is said once and then waited for in silence.
bitfile *wait_for_update(target_watch &watch, stamp &remembered)
{
    say("Waiting for update '%s'\n", printable(settings.filename).c_str());
    bool said_incomplete = false;
    for (;;) {
        watch.sample(remembered);
        bitfile_shortfall why;
        bitfile *bf = open_bitstream(why);
        if (bf != nullptr && !remembered.matches(bf))
            return bf;
        if (why.incomplete && !said_incomplete) {
            say_incomplete(why);
            said_incomplete = true;
        }
        bitfile_close(bf);
        watch.pace();
    }
}

// Sends the data block by block. A load that stops before its last block (a
// read error, SIGINT or SIGTERM) ends at a packet boundary, so that the FPGA
// takes the next load; cut tells whether that happened.
uint32_t send_blocks(bitfile *bf, uint32_t err, bool &cut)
{
    static uint8_t file_buffer[BLOCK_SIZE];
    uint32_t pos = 0;
    bool sent_any = false;
    interrupt_watch_begin();
    while (err == 0 && pos < bf->length && interrupt_caught() == 0) {
        const bool last = static_cast<uint64_t>(bf->length) <= static_cast<uint64_t>(pos) + BLOCK_SIZE;
        const uint32_t size = last ? bf->length - pos : static_cast<uint32_t>(BLOCK_SIZE);
        say("Configration bit %7d to -%7d\r", static_cast<int32_t>(pos * 8u),
            static_cast<int32_t>((pos + size) * 8u - 1u));
        sent_any = true;
        // A short read would leave stale bytes in the buffer: it fails like a read error.
        if (bitfile_read(bf, file_buffer, size) != size) {
            say("File Read Error");
            err |= ERR_FILE;
            break;
        }
        err |= driver.sh_write(file_buffer, size, last ? 1 : 0);
        pos += size;
    }
    cut = sent_any && pos < bf->length;
    if (cut) {
        if (settings.config_mode == MODE_BSCAN)
            jtag_break();
        else
            xcclk_break();
    }
    interrupt_watch_end();
    if (cut && interrupt_caught() != 0)
        say("\nStopped by signal %d: the load ended at a packet boundary and the FPGA is not configured\n",
            interrupt_caught());
    return err;
}

} // namespace

uint32_t run_configuration(uint32_t err)
{
    stamp remembered;
    target_watch watch;
    bool retry = false;
    for (;;) {
        bitfile *bf = nullptr;
        if (retry || err == 0) {
            if (settings.continus_mode && !retry) {
                bf = wait_for_update(watch, remembered);
            } else {
                bitfile_shortfall why;
                bf = open_bitstream(why);
                if (bf == nullptr && why.incomplete && settings.continus_mode) {
                    // Not written out yet: wait for it as for any new file.
                    retry = false;
                    bf = wait_for_update(watch, remembered);
                } else if (bf == nullptr) {
                    if (why.incomplete)
                        say_incomplete(why);
                    else
                        say("Can't open bitstream file '%s'\n", printable(settings.filename).c_str());
                    err |= ERR_FILE;
                }
            }
        }
        retry = false;

        stamp tried; // set only when this pass really tried to configure the file
        if (bf != nullptr) {
            print_file_block(bf);
            if (bf->length == 0) {
                say("Bitstream file '%s' holds no configuration data\n", printable(settings.filename).c_str());
                err |= ERR_FILE;
            }
        }

        err &= ~ERR_POWER;
        if (!(err & ERR_PROBE) && driver.sh_power() == 0) {
            say("Target power down\n");
            err |= ERR_POWER;
        }

        if (!(err & (ERR_PROBE | ERR_TARGET | ERR_POWER | ERR_FILE)) && bf != nullptr) {
            tried.take(bf);
            std::memcpy(bitstream_part, bf->part_name, sizeof bitstream_part);
            bitstream_part[sizeof bitstream_part - 1] = '\0';
            err |= driver.sh_start(bf->idcode);
            say("Start Configraion\n");
        }
        bool cut = false;
        if (!(err & (ERR_PROBE | ERR_TARGET | ERR_POWER)) && bf != nullptr)
            err = send_blocks(bf, err, cut);

        if (bf != nullptr) {
            if (err == 0 && !cut)
                remembered.take(bf);
            bitfile_close(bf);
        }
        if (!(cut && interrupt_caught() != 0))
            print_report(err);

        if (!settings.continus_mode || interrupt_caught() != 0)
            break;
        watch.pass_ended(err == 0);
        if (err == 0) {
            pause_watching(watch, remembered);
            continue;
        }
        if ((err & ~(ERR_TARGET | ERR_UNNAMED)) == 0) {
            // A failed configuration waits for a new file (or a power cycle)
            // instead of repeating the same failure once a second.
            if (tried.valid)
                remembered = tried;
            err = 0;
            pause_watching(watch, remembered);
            continue;
        }
        platform_sleep_ms(PASS_PAUSE_MS);
        if ((err & (ERR_FILE | ERR_PROBE | ERR_DRIVER)) == 0) {
            retry = true;
            continue;
        }
        break;
    }

    return err;
}
