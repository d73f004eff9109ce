#!/bin/sh
# Process 1 of the guest that `vokbench run --vm` boots, run in the host's tree
# (read-only over 9p) after switch_root. vokbench's run folder is at /run/vokbench:
# settings, the command, and the files that carry its output and status back.
# As on a desktop, udevd runs with the board rule installed, so libusb hears of a
# board that renumerates; the command runs as an unprivileged user in plugdev.
run=/run/vokbench
. $run/settings
export PATH="$VM_PATH"

# The host's /tmp stays visible (commands name files there); the guest's own
# scratch space is on /run.
mkdir -m 1777 /run/tmp
mount -t tmpfs -o mode=755 rules /etc/udev/rules.d 2>/dev/null
[ -n "$VM_RULE" ] && cp "$VM_RULE" /etc/udev/rules.d/

if [ -x /lib/systemd/systemd-udevd ]; then
    /lib/systemd/systemd-udevd --daemon
    udevadm trigger --action=add --subsystem-match=usb
else
    echo "vokbench guest: udevd is missing (apt-get install udev): libusb will not see renumerated boards" >>$run/err
fi
# The boards are attached while the guest boots: wait until the kernel has all of
# them, then until udev has set their nodes up.
tries=0
while [ "$(ls -d /sys/bus/usb/devices/*-* 2>/dev/null | grep -vc :)" -lt "$VM_BOARDS" ] && [ $tries -lt 100 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
[ -x /lib/systemd/systemd-udevd ] && udevadm settle --timeout=10

cat /proc/uptime >$run/started
cd "$VM_CWD" 2>/dev/null || cd /
if [ "$VM_ROOT" = 1 ]; then
    env -i PATH="$VM_PATH" HOME=/root TMPDIR=/run/tmp TERM=dumb sh $run/command >>$run/out 2>>$run/err </dev/null
else
    env -i PATH="$VM_PATH" HOME=/run/tmp TMPDIR=/run/tmp TERM=dumb \
        setpriv --reuid=65534 --regid=65534 --groups=46 sh $run/command >>$run/out 2>>$run/err </dev/null
fi
echo $? >$run/status.part
mv $run/status.part $run/status
echo o >/proc/sysrq-trigger
while :; do sleep 1; done
