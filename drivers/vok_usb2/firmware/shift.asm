; The board's main loop: polls the OUT endpoints, shifts EP2 OUT and EP4 OUT
; bytes through serial port 0 and runs EP6 OUT bit cycles on the port pins.
;
; Serial port 0, mode 0 at CLK24/12 (SCON0.SM2 = 0), as a receiver: clearing RI
; with REN set starts eight clock pulses on TxD0 (PC1 = TCK) and samples RxD0
; (PC0 = TDO) at each rising edge, first bit into bit 0. The port has no output
; for PA5 (TDI), so the loop writes each TDI bit to OUTA in step with the clock.
;
; Clock phase the loop relies on, in CLK24 periods (4 per machine cycle) after
; E, the end of the CLR RI that starts a byte: TxD0 falls at E+14+12k and rises
; at E+23+12k for bit k = 0..7; RI is set at E+111. A MOVX write reaches the
; pin in c2 of its last cycle, E+4m+2 when that cycle is N(m), N0 being the
; first cycle after E. TDI bit k must reach the pin after rise k-1 and before
; rise k: m in {3k+3, 3k+4, 3k+5}. A MOVX (2 cycles) and an RR A (1 cycle)
; per bit place the writes three cycles apart.
;
; Cycle budget of one byte (MOVX 2 cycles with CKCON.MD = 0):
;   EP2:  MOVX A,@DPTR 2, SWAP 1, CLR RI 2, RL 1, NOP 1, 8 x MOVX 16, 7 x RR 7 = 30
;         bit k written at N(3k+3) = E+14+12k, with the falling clock edge.
;   EP4:  the same with PUSH SBUF0 2 in place of the NOP 1 = 31
;         bit k written at N(3k+4) = E+18+12k.
; The next byte's CLR RI must start at N28 or later, after RI of this one is set
; (E+111, in N27): the EP2 byte reaches it at N28 exactly, the EP4 byte at N29.
; A 64-byte EP2 packet runs straight through 64 bytes: 1920 cycles of shifting;
; EP4 runs 16 groups of four bytes with one DJNZ (3 cycles) per group:
; 16 x (4 x 31 + 3) = 2032 cycles. A shorter packet runs one byte per DJNZ.
;
; Interrupts stay off during a packet: an interrupt inside a byte would move
; the TDI writes off the clock.

	.module shift
	.globl _fw_poll_loop

	.include "an2131.inc"	; the chip's registers; NAME_L is a register's low byte
ACC_BUSY   = ACC + EPCS_BUSY_BIT	; the busy bit of INnCS/OUTnCS once read into A
SCON0_ARMED = 0x11		; mode 0, CLK24/12, REN, RI set: nothing starts yet
PACKET     = EP_BUF_SIZE

	.include "../../firmware/autoptr.inc"
	.include "vok_usb2_protocol.inc"

	.area ISEG    (DATA)
; Answers of a packet. EP4 pushes each byte's TDO during the next byte, so its
; first entry is a placeholder and its answers start one byte in.
answers:	.ds PACKET + 1

	.area CSEG    (CODE)

; Seven of the eight TDI bits: each RR A brings the next bit to bit 5.
	.macro	TDI_BITS_1_TO_7
	.rept	7
	rr	a
	movx	@r1,a
	.endm
	.endm

; One byte without answer (30 cycles). R1 = OUTA, DPTR = AUTODATA.
	.macro	SHIFT
	movx	a,@dptr		; the TDI byte, bit 0 first
	swap	a
	clr	RI		; eight clock pulses start; E = the end of this instruction
	rl	a		; N0: bit 0 now in bit 5 (PA5)
	nop			; N1
	movx	@r1,a		; N2-N3: bit 0 at E+14
	TDI_BITS_1_TO_7		; bit k at E+14+12k
	.endm

; One byte with answer (31 cycles): the previous byte's TDO goes onto the stack.
	.macro	SHIFT_TDO
	movx	a,@dptr
	swap	a
	clr	RI
	rl	a		; N0
	push	SBUF0		; N1-N2
	movx	@r1,a		; N3-N4: bit 0 at E+18
	TDI_BITS_1_TO_7		; bit k at E+18+12k
	.endm

; PC0 and PC1 to the serial port, its receiver armed, R1 on OUTA.
	.macro	SERIAL_ON
	mov	r1,#PORTCCFG_L
	mov	a,#VOK_USB2_PIN_TDO | VOK_USB2_PIN_TCK ; PORTCCFG: PC0 = RxD0, PC1 = TxD0
	movx	@r1,a
	mov	SCON0,#SCON0_ARMED
	mov	r1,#OUTA_L
	.endm

; Waits for the last byte's eighth clock, then gives the pins back to the
; port latches (TCK high, as the serial clock idles).
	.macro	SERIAL_OFF
	jnb	RI,.
	mov	SCON0,#0
	mov	r1,#PORTCCFG_L
	clr	a
	movx	@r1,a
	.endm

_fw_poll_loop:
	mov	MPAGE,#REG_PAGE
	mov	dptr,#AUTODATA
poll:
	mov	r0,#OUT2CS_L
	movx	a,@r0
	jnb	ACC_BUSY,go_ep2
	mov	r0,#OUT4CS_L
	movx	a,@r0
	jnb	ACC_BUSY,go_ep4
	mov	r0,#OUT6CS_L
	movx	a,@r0
	jnb	ACC_BUSY,go_ep6
	mov	r0,#OUT1CS_L
	movx	a,@r0
	jb	ACC_BUSY,poll
	inc	r0		; EP1 OUT: no commands; the packet is dropped
	movx	@r0,a
	sjmp	poll
go_ep2:	ljmp	ep2
go_ep4:	ljmp	ep4
go_ep6:	ljmp	ep6

; Copies R6 answers from internal RAM at R0 to EP2 IN and sends them.
send_answer:
	AUTOPTR_TO IN2BUF
	mov	a,r6
	mov	r7,a
copy:
	mov	a,@r0
	inc	r0
	movx	@dptr,a
	djnz	r7,copy
	mov	r1,#IN2BC_L
	mov	a,r6
	movx	@r1,a
	ret

; Waits until the host has taken the previous answer from EP2 IN.
wait_in2_free:
	mov	r0,#IN2CS_L
in2_busy:
	movx	a,@r0
	jb	ACC_BUSY,in2_busy
	ret

ep2_go_short:
	ljmp	ep2_short

; EP2 OUT: the bytes are shifted, TDO is dropped.
ep2:
	clr	EA
	mov	r0,#OUT2BC_L
	movx	a,@r0
	jnz	ep2_some
	ljmp	ep2_done
ep2_some:
	mov	r6,a
	AUTOPTR_TO OUT2BUF
	SERIAL_ON
	mov	a,r6
	cjne	a,#PACKET,ep2_go_short
	.rept	PACKET		; a full packet runs straight through
	SHIFT
	.endm
	ljmp	ep2_end
ep2_short:
	mov	r7,a
ep2_one:
	SHIFT
	djnz	r7,ep2_one
ep2_end:
	SERIAL_OFF
ep2_done:
	mov	r0,#OUT2BC_L
	movx	@r0,a		; re-arm EP2 OUT
	setb	EA
	ljmp	poll

; EP4 OUT: as EP2, and the TDO bytes go back as one EP2 IN packet.
ep4:
	clr	EA
	lcall	wait_in2_free
	mov	r0,#OUT4BC_L
	movx	a,@r0
	jnz	ep4_some
	ljmp	ep4_done
ep4_some:
	mov	r6,a
	AUTOPTR_TO OUT4BUF
	SERIAL_ON
	mov	r5,SP
	mov	SP,#answers - 1
	mov	a,r6
	cjne	a,#PACKET,ep4_short
	mov	r7,#PACKET / 4
ep4_group:
	.rept	4
	SHIFT_TDO
	.endm
	djnz	r7,ep4_group
	sjmp	ep4_end
ep4_short:
	mov	r7,a
ep4_one:
	SHIFT_TDO
	djnz	r7,ep4_one
ep4_end:
	SERIAL_OFF
	push	SBUF0		; the last byte's TDO
	mov	SP,r5
	mov	r0,#answers + 1
	mov	a,r6
	cjne	a,#PACKET,ep4_copy_short
	sjmp	ep4_copy_full
ep4_copy_short:
	lcall	send_answer
	ljmp	ep4_done
ep4_copy_full:			; a full answer without a DJNZ per byte (4 cycles a byte)
	AUTOPTR_TO IN2BUF
	.rept	PACKET
	mov	a,@r0
	inc	r0
	movx	@dptr,a
	.endm
	mov	r1,#IN2BC_L
	mov	a,r6
	movx	@r1,a
ep4_done:
	mov	r0,#OUT4BC_L
	movx	@r0,a		; re-arm EP4 OUT
	setb	EA
	ljmp	poll

; EP6 OUT: per byte, port A and port C from the byte (TCK low when bit 1 is
; clear), then TCK high, then the port C pins as the answer.
ep6:
	clr	EA
	lcall	wait_in2_free
	mov	r0,#OUT6BC_L
	movx	a,@r0
	jz	ep6_done
	mov	r6,a
	mov	r7,a
	AUTOPTR_TO OUT6BUF
	mov	r0,#answers
ep6_byte:
	movx	a,@dptr
	mov	r1,#OUTA_L
	movx	@r1,a
	mov	r1,#OUTC_L
	movx	@r1,a
	orl	a,#VOK_USB2_PIN_TCK
	movx	@r1,a		; the rising edge
	mov	r1,#PINSC_L
	movx	a,@r1
	mov	@r0,a
	inc	r0
	djnz	r7,ep6_byte
	mov	r0,#answers
	lcall	send_answer
ep6_done:
	mov	r0,#OUT6BC_L
	movx	@r0,a		; re-arm EP6 OUT
	setb	EA
	ljmp	poll
