; Block transfers between the capture logic's data bus and the host, with fast transfers:
; each MOVX through the autopointer moves one byte and gives one strobe.
        .module transfer
        .include "ezusb.inc"
        .include "context.inc"

        .globl  pump, isr_ep2_out

        .area   CSEG (CODE)

; Packets left - 1: R6:R7 (high, low) count down by one and are stored back in
; PACKETS_HI/PACKETS_LO. Leaves DPTR at PACKETS_LO.
        .macro  dec_packets_left
        mov     a,r7
        clr     c
        subb    a,#1
        mov     r7,a
        mov     a,r6
        subb    a,#0
        mov     dptr,#PACKETS_HI
        movx    @dptr,a
        inc     dptr
        mov     a,r7
        movx    @dptr,a
        .endm

; Block-read pump, one pass of the main loop: fills at most one packet of endpoint 2 IN.
; A full packet samples the status line after every 8-byte group and counts the groups
; after which it read low; the tail packet is not sampled.
pump_skip:
        clr     pump_busy
        ret

pump:
        setb    pump_busy       ; command packets wait until this pass is over
        mov     dptr,#DIRECTION
        movx    a,@dptr
        jnz     pump_skip
        mov     dptr,#PACKETS_HI
        movx    a,@dptr
        mov     r6,a
        inc     dptr
        movx    a,@dptr
        mov     r7,a
        inc     dptr            ; TAIL
        movx    a,@dptr
        mov     r5,a
        orl     a,r6
        orl     a,r7
        jz      pump_skip
        mov     dptr,#IN2CS
        movx    a,@dptr
        jb      acc.1,pump_skip  ; no free buffer: the host is not draining yet
        mov     dptr,#AUTOPTRH
        mov     a,#>IN2BUF
        movx    @dptr,a
        inc     dptr
        mov     a,#<IN2BUF
        movx    @dptr,a
        mov     MPAGE,#REGPAGE
        mov     r1,#<AUTODATA
        mov     r0,#<PINSC
        mov     a,r6
        orl     a,r7
        jz      pump_tail

        mov     r4,#0           ; groups with the status line low
        mov     r3,#8
1$:     movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    @r1,a
        movx    a,@r0
        jb      acc.3,2$
        inc     r4
2$:     djnz    r3,1$
        mov     dptr,#IN2BC
        mov     a,#64
        movx    @dptr,a
        dec_packets_left
        mov     a,r4            ; counter += r4, 32 bits, most significant byte first
        jz      pump_out
        mov     dptr,#COUNTER+3
        movx    a,@dptr
        add     a,r4
        movx    @dptr,a
        jnc     pump_out
        mov     dpl,#<(COUNTER+2)
        movx    a,@dptr
        addc    a,#0
        movx    @dptr,a
        jnc     pump_out
        mov     dpl,#<(COUNTER+1)
        movx    a,@dptr
        addc    a,#0
        movx    @dptr,a
        jnc     pump_out
        mov     dpl,#<COUNTER
        movx    a,@dptr
        addc    a,#0
        movx    @dptr,a
        sjmp    pump_out

pump_tail:
        mov     a,r5
        anl     a,#0x3F
        jz      3$
        mov     r3,a
4$:     movx    @r1,a
        djnz    r3,4$
        mov     dptr,#IN2BC
        movx    @dptr,a
3$:     mov     dptr,#TAIL
        clr     a
        movx    @dptr,a
pump_out:
        clr     pump_busy
        ret

; Endpoint 2 OUT: block-write data, driven onto the data bus with one write strobe per
; byte while a block write is announced. The endpoint is always re-armed, so a packet
; nobody expects is dropped.
isr_ep2_out:
        save_context
        anl     EXIF,#EXIF_USB_CLEAR
        mov     dptr,#OUT07IRQ
        mov     a,#0x04
        movx    @dptr,a
        mov     dptr,#DIRECTION
        movx    a,@dptr
        jz      rearm
        mov     dptr,#PACKETS_HI
        movx    a,@dptr
        mov     r6,a
        inc     dptr
        movx    a,@dptr
        mov     r7,a
        inc     dptr            ; TAIL
        movx    a,@dptr
        orl     a,r6
        orl     a,r7
        jz      rearm
        mov     dptr,#AUTOPTRH
        mov     a,#>OUT2BUF
        movx    @dptr,a
        inc     dptr
        mov     a,#<OUT2BUF
        movx    @dptr,a
        mov     dptr,#OUT2BC
        movx    a,@dptr
        mov     r2,a
        jz      2$
        mov     r3,a
        mov     MPAGE,#REGPAGE
        mov     r1,#<AUTODATA
1$:     movx    a,@r1
        djnz    r3,1$
2$:     mov     a,r2
        cjne    a,#64,short_packet
        ; A full packet counts against packets left, which stays at 0 if a full packet
        ; comes when only the tail is expected.
        mov     a,r6
        orl     a,r7
        jz      rearm
        dec_packets_left
        sjmp    rearm
short_packet:
        mov     dptr,#TAIL
        clr     a
        movx    @dptr,a
rearm:
        mov     dptr,#OUT2BC
        arm_out
        restore_context
        reti
