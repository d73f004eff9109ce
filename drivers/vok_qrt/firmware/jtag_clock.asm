; TCK cycles on port C: one from a port value, and block shifts that clock every
; byte received on EP2 OUT.
;
; Each TCK cycle is eight writes of the port-C output register: two with TCK
; high, four with TCK low, two with TCK high, the other bits taken from the port
; value. The writes go through MOVX @R0 (R0 = low byte of OUTC, MPAGE = 0x7F)
; and TCK is toggled by XRL A,R3 (R3 = TCK), so a received byte costs
; 2 (fetch) + 1 + 16 + 2 = 21 machine cycles. The bytes of a packet are fetched
; through the autopointer, which increments by itself.
        .module jtag_clock
        .globl _block_full
        .globl _block_short
        .globl _port_clock
        .globl _block_run

        .include "an2131.inc"
OUT2BUF_HIGH = >OUT2BUF
OUT2BUF_LOW = <OUT2BUF
PACKET = EP_BUF_SIZE

        .include "vok_qrt_protocol.inc"

        .area CSEG (CODE)

; One TCK cycle with the port value in A.
        .macro CLOCK_A
        orl a,r3
        movx @r0,a
        movx @r0,a
        xrl a,r3
        movx @r0,a
        movx @r0,a
        movx @r0,a
        movx @r0,a
        xrl a,r3
        movx @r0,a
        movx @r0,a
        .endm

; Points the autopointer at the received packet of EP2 OUT (R1 free, A lost).
        .macro POINT_AT_PACKET
        mov r1,#AUTOPTRH_L
        mov a,#OUT2BUF_HIGH
        movx @r1,a
        inc r1
        mov a,#OUT2BUF_LOW
        movx @r1,a
        .endm

        .macro PORT_REGISTERS
        mov MPAGE,#REG_PAGE
        mov r0,#OUTC_L
        mov r3,#VOK_QRT_PORT_TCK
        .endm

; void port_clock(unsigned char value): one TCK cycle; value arrives in DPL.
_port_clock:
        PORT_REGISTERS
        mov a,dpl
        CLOCK_A
        ret

; Clocks R2 bytes (0 to 64) of the packet through the autopointer (DPTR = AUTODATA).
clock_bytes:
        mov a,r2
        jz 00002$
00001$:
        movx a,@dptr
        CLOCK_A
        djnz r2,00001$
00002$:
        ret

; A short packet while full packets were still due ends the block.
short_packet:
        mov r2,a
        POINT_AT_PACKET
        lcall clock_bytes
end_block:
        mov r1,#OUT2BC_L
        movx @r1,a
        clr a
        mov _block_full,a
        mov (_block_full + 1),a
        mov _block_short,a
        ret

; No packet waiting: the count goes back to its plain form.
leave_full:
        mov _block_full,r4
        mov a,r4
        jz 00012$
        dec r5
00012$:
        mov (_block_full + 1),r5
        ret

; void block_run(void): clocks the packets waiting on EP2 OUT while a block shift
; is active; returns when the block has ended or no packet is waiting. Full
; packets are counted down while the full-packet count is not 0; a short packet
; ends the block; a full packet beyond the count is clocked and leaves the short
; packet still due.
_block_run:
        PORT_REGISTERS
        mov dptr,#AUTODATA
        ; The full-packet count as a DJNZ pair: R4 = low byte, R5 = high byte
        ; plus 1 when the low byte is not 0.
        mov r4,_block_full
        mov r5,(_block_full + 1)
        mov a,r4
        jz 00010$
        inc r5
00010$:
        mov a,r5
        jnz full_loop
        ljmp full_done
full_loop:
        mov r1,#OUT2CS_L
        movx a,@r1
        jb ACC+EPCS_BUSY_BIT,leave_full
        inc r1
        movx a,@r1
        cjne a,#PACKET,short_packet
        POINT_AT_PACKET
        .rept PACKET
        movx a,@dptr
        CLOCK_A
        .endm
        mov r1,#OUT2BC_L
        movx @r1,a
        djnz r4,00011$
        djnz r5,00011$
        sjmp full_done
00011$:
        ljmp full_loop

full_done:
        clr a
        mov _block_full,a
        mov (_block_full + 1),a
last_loop:
        mov a,_block_short
        jz 00021$
        mov r1,#OUT2CS_L
        movx a,@r1
        jb ACC+EPCS_BUSY_BIT,00021$
        inc r1
        movx a,@r1
        mov r2,a
        POINT_AT_PACKET
        lcall clock_bytes
        mov r1,#OUT2BC_L
        movx a,@r1
        cjne a,#PACKET,00022$
        movx @r1,a
        sjmp last_loop
00021$:
        ret
00022$:
        ljmp end_block
