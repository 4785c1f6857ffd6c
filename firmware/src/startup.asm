; Start-up after the host releases the 8051, re-enumeration, and the main loop.
        .module startup
        .include "ezusb.inc"

        .globl  start, delay_ms
        .globl  serve_setup, pump, try_deferred_commands

        .area   CSEG (CODE)

start:
        ; Internal RAM: all 256 bytes to zero; R0 (address 0) ends at zero with them.
        mov     r0,#0xFF
        clr     a
1$:     mov     @r0,a
        djnz    r0,1$
        mov     sp,#STACK_BOTTOM
        ; MOVX stretch 0 before any OUT endpoint is armed: rev E arms only at stretch 0.
        anl     CKCON,#0xF8

        ; Endpoints 1, 2 and 4-7 valid both ways; 3 is the second half of the 2 pair.
        mov     dptr,#IN07VAL
        mov     a,#0xF7
        movx    @dptr,a
        inc     dptr            ; OUT07VAL
        movx    @dptr,a
        mov     dptr,#IN07IEN
        clr     a
        movx    @dptr,a
        inc     dptr            ; OUT07IEN: endpoints 1, 2, 4-7
        mov     a,#0xF6
        movx    @dptr,a
        setb    rwuen
        mov     dptr,#USBPAIR
        mov     a,#0x09         ; PR2IN | PR2OUT
        movx    @dptr,a
        mov     dptr,#CPUCS     ; CLK24OE: 24 MHz clock out; bit 0 stays 0 (running)
        movx    a,@dptr
        orl     a,#0x02
        anl     a,#0x03
        movx    @dptr,a
        mov     dptr,#PORTACFG
        mov     a,#0x30         ; PA4 = FWR#, PA5 = FRD#
        movx    @dptr,a
        inc     dptr            ; PORTBCFG
        clr     a
        movx    @dptr,a
        inc     dptr            ; PORTCCFG
        movx    @dptr,a
        ; Block-transfer state, and the unfilled counter so that 0x70 before the first
        ; block read answers 0 rather than whatever the RAM held.
        mov     dptr,#PACKETS_HI
        mov     r7,#8
2$:     movx    @dptr,a
        inc     dptr
        djnz    r7,2$
        mov     dptr,#FASTXFR
        mov     a,#0x40         ; FBLK, strobes active low
        movx    @dptr,a
        ; Arm the OUT endpoints now, so that commands are taken even if the host never
        ; resets the bus after the reconnect.
        lcall   arm_out_endpoints

        ; Requests left by the firmware that ran before us name buffers that hold nothing
        ; of ours: forget them before any handler can run.
        lcall   clear_usb_requests

        ; Interrupts: SETUP data, SETUP token, suspend, USB reset; autovectoring; resume.
        mov     dptr,#USBIEN
        mov     a,#0x1D
        movx    @dptr,a
        inc     dptr            ; USBBAV
        movx    a,@dptr
        orl     a,#0x01         ; AVEN
        movx    @dptr,a
        setb    ERESI
        setb    EUSB
        setb    ea

renumerate:
        mov     dptr,#USBCS
        mov     a,#USBCS_RENUM_DISCONNECTED
        movx    @dptr,a
        mov     r2,#>1500       ; some hubs miss shorter disconnects
        mov     r3,#<1500
        lcall   delay_ms
        lcall   clear_usb_requests      ; forget everything that happened while away
        clr     got_setup
        mov     dptr,#USBCS
        mov     a,#USBCS_RENUM_CONNECTED
        movx    @dptr,a

        ; Wait for the host's first SETUP packet: 8 x 248 x 151 = 299584 passes. A host
        ; that missed the reconnect gets another one.
        mov     r5,#8
3$:     mov     r6,#248
4$:     mov     r7,#151
5$:     jb      got_setup,setup_seen
        djnz    r7,5$
        djnz    r6,4$
        djnz    r5,3$
        sjmp    renumerate

setup_seen:
main_loop:
        jnb     got_setup,1$
        lcall   serve_setup
1$:     jnb     suspend_req,2$
        lcall   suspend
2$:     jnb     cmd_deferred,3$
        ; A command packet waits for endpoint 2 IN: it goes before more block data.
        lcall   try_deferred_commands
        sjmp    main_loop
3$:     lcall   pump
        sjmp    main_loop

; Write 1 to clear: every pending USB request, and the INT2 flag.
clear_usb_requests:
        mov     a,#0xFF
        mov     dptr,#IN07IRQ
        movx    @dptr,a
        inc     dptr            ; OUT07IRQ
        movx    @dptr,a
        inc     dptr            ; USBIRQ
        movx    @dptr,a
        anl     EXIF,#EXIF_USB_CLEAR
        ret

; Arms OUT endpoints 1, 2 and 4-7 (any value written to the byte count arms), at MOVX
; stretch 0 whatever the host chose.
        .globl  arm_out_endpoints, arm_data_out_endpoints
arm_out_endpoints:
        mov     dptr,#OUT1BC
        arm_out
; The same without endpoint 1, whose packet may still be in use.
arm_data_out_endpoints:
        push    CKCON
        anl     CKCON,#0xF8
        mov     dptr,#OUT2BC    ; paired with 3: one write arms each half
        movx    @dptr,a
        movx    @dptr,a
        mov     dptr,#OUT4BC
        movx    @dptr,a
        mov     dptr,#OUT5BC
        movx    @dptr,a
        mov     dptr,#OUT6BC
        movx    @dptr,a
        mov     dptr,#OUT7BC
        movx    @dptr,a
        pop     CKCON
        ret

; Bus suspend: idle until the bus resumes. A wake-up through the pin ends in idle again
; unless the host allowed remote wake-up; then we signal resume for 10 ms (a device may
; drive resume for at most 15 ms).
suspend:
        clr     suspend_req
1$:     mov     dptr,#USBCS
        movx    a,@dptr
        orl     a,#USBCS_WAKESRC        ; write 1 clears the wake-up source
        movx    @dptr,a
        orl     pcon,#0x01              ; IDLE until an interrupt
        nop
        nop
        nop
        mov     dptr,#USBCS
        movx    a,@dptr
        jnb     acc.7,2$                ; the bus resumed: nothing to do
        jnb     rwuen,1$
        anl     a,#0x7F
        orl     a,#USBCS_SIGRSUME
        movx    @dptr,a
        mov     r2,#0
        mov     r3,#10
        lcall   delay_ms
        mov     dptr,#USBCS
        movx    a,@dptr
        anl     a,#0x7E                 ; SIGRSUME off, WAKESRC not written
        movx    @dptr,a
2$:     ret

; Waits r2:r3 (high:low, not 0) milliseconds. Uses r2, r3, r6, r7.
delay_ms:
1$:     lcall   step_1ms
        mov     a,r3
        jnz     2$
        dec     r2
2$:     dec     r3
        mov     a,r3
        orl     a,r2
        jnz     1$
        ret

; About 6000 machine cycles with the loop around it: 1 ms at 24 MHz, 4 clocks a cycle. The
; AN21xx always runs at 24 MHz (CPUCS.3 reads 0, it is no clock flag on this chip), so a
; step timed for 12 MHz and doubled on that flag would halve the disconnect.
step_1ms:
        mov     r6,#8
1$:     mov     r7,#248
2$:     djnz    r7,2$
        djnz    r6,1$
        ret
