; The board's main loop: polls the OUT endpoints and moves clock bytes from
; EP2 OUT and EP4 OUT onto the external bus with the fast-transfer strobe.
;
; With FBLK set, every read of AUTODATA puts the byte at the autopointer on
; D7..D0 with one FWR pulse (the clock), then advances the pointer. The loop
; keeps DPTR on AUTODATA and the autopointer on OUT2BUF between packets, and
; MPAGE on the register page so that MOVX @R0/@R1 reach the endpoint
; registers in two cycles.

	.module strobe
	.globl _fw_poll_loop
	.globl _fw_run_commands

	.include "an2131.inc"	; the chip's registers; NAME_L is a register's low byte
IN2BUF_PAGE = >IN2BUF
ACC_BUSY   = ACC + EPCS_BUSY_BIT	; the busy bit of INnCS/OUTnCS once read into A
PACKET     = EP_BUF_SIZE

	.include "../../firmware/autoptr.inc"

	.area ISEG    (DATA)
pins:	.ds PACKET		; port C after each strobe of an EP4 packet

	.area CSEG    (CODE)

; Throws away a packet of an endpoint that we do not use (its CS low byte).
	.macro	DISCARD cs_l, ?skip
	mov	r1,#cs_l
	movx	a,@r1
	jb	ACC_BUSY,skip
	inc	r1
	movx	@r1,a		; re-arm: the packet is dropped
skip:
	.endm

; Checks EP2 OUT (R0 holds the low byte of OUT2CS while polling). Every other
; check is followed by this one, so that a packet on EP2 waits at most a few
; cycles: the clock bytes there are the bulk of the traffic.
	.macro	CHECK_EP2
	movx	a,@r0
	jnb	ACC_BUSY,ep2
	.endm

_fw_poll_loop:
	mov	MPAGE,#REG_PAGE
restart:
	mov	dptr,#AUTODATA
	AUTOPTR_TO OUT2BUF
	mov	r0,#OUT2CS_L
poll:
	CHECK_EP2
	mov	r1,#OUT1CS_L
	movx	a,@r1
	jnb	ACC_BUSY,ep1
	CHECK_EP2
	mov	r1,#OUT4CS_L
	movx	a,@r1
	jnb	ACC_BUSY,ep4_pending
ep4_not_yet:
	CHECK_EP2
	DISCARD	OUT3CS_L
	CHECK_EP2
	DISCARD	OUT5CS_L
	CHECK_EP2
	DISCARD	OUT6CS_L
	CHECK_EP2
	DISCARD	OUT7CS_L
	sjmp	poll

ep1:
	lcall	_fw_run_commands
	mov	MPAGE,#REG_PAGE
	ljmp	restart

; EP4 waits until the host has taken the previous answer from EP2 IN.
ep4_pending:
	mov	r1,#IN2CS_L
	movx	a,@r1
	jnb	ACC_BUSY,ep4
	ljmp	ep4_not_yet

; EP2 OUT: every byte one strobe, nothing answered. A full packet runs
; straight through 64 strobes.
ep2:
	inc	r0		; OUT2BC
	movx	a,@r0
	cjne	a,#PACKET,ep2_short
	.rept	PACKET
	movx	a,@dptr
	.endm
ep2_done:
	movx	@r0,a		; re-arm EP2 OUT
	dec	r0
	AUTOPTR_TO OUT2BUF
	ljmp	poll
ep2_short:
	jz	ep2_done
	mov	r7,a
ep2_loop:
	movx	a,@dptr
	djnz	r7,ep2_loop
	sjmp	ep2_done


; EP4 OUT: every byte one strobe, then the port C pins; the pin bytes go back
; as one EP2 IN packet of the same length.
ep4:
	AUTOPTR_TO OUT4BUF
	mov	r0,#OUT4BC_L
	movx	a,@r0
	mov	r6,a		; byte count, also of the answer
	mov	r0,#pins
	mov	r1,#PINSC_L
	cjne	a,#PACKET,ep4_short
	sjmp	ep4_full
ep4_short:
	jnz	ep4_some
	ljmp	ep4_done
ep4_some:
	mov	r7,a
ep4_strobe:
	movx	a,@dptr
	movx	a,@r1
	mov	@r0,a
	inc	r0
	djnz	r7,ep4_strobe
	mov	MPAGE,#IN2BUF_PAGE
	mov	r0,#pins
	mov	r1,#0
	mov	a,r6
	mov	r7,a
ep4_copy:
	mov	a,@r0
	inc	r0
	movx	@r1,a
	inc	r1
	djnz	r7,ep4_copy
	ljmp	ep4_answer
ep4_full:
	.rept	PACKET
	movx	a,@dptr		; strobe the clock byte
	movx	a,@r1		; port C right after it
	mov	@r0,a
	inc	r0
	.endm
	mov	MPAGE,#IN2BUF_PAGE
	mov	r0,#pins
	mov	r1,#0
	.rept	PACKET
	mov	a,@r0
	inc	r0
	movx	@r1,a
	inc	r1
	.endm
ep4_answer:
	mov	MPAGE,#REG_PAGE
	mov	r0,#IN2BC_L
	mov	a,r6
	movx	@r0,a		; the answer goes out on EP2 IN
ep4_done:
	mov	r0,#OUT4BC_L
	movx	@r0,a		; re-arm EP4 OUT
	ljmp	restart
