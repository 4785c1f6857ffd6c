; Fixed points of the image: the reset and resume vectors, the USB vector and the USB
; jump table it leads to. With autovectoring on, the chip replaces the low byte of the
; jump at 0x0043 by 4 x source index, so each USB source enters its own slot at 0x0B00.
        .module vectors
        .include "ezusb.inc"

        .globl  start, isr_resume
        .globl  isr_sudav, isr_sof, isr_sutok, isr_suspend, isr_usb_reset, isr_unused
        .globl  isr_ep1_out, isr_ep2_out, isr_ep4_out, isr_ep5_out, isr_ep6_out
        .globl  isr_ep7_out

        .area   VECTORS (ABS,CODE)
        .org    0x0000
        ljmp    start
        .org    0x0033
        ljmp    isr_resume
        .org    0x0043
        ljmp    usb_jump_table

; One slot per USB interrupt source, in the chip's order: LJMP, then one pad byte.
        .area   USBJT (ABS,CODE)
        .org    0x0B00
usb_jump_table:
        ljmp    isr_sudav       ; SETUP data
        .db     0
        ljmp    isr_sof         ; start of frame
        .db     0
        ljmp    isr_sutok       ; SETUP token
        .db     0
        ljmp    isr_suspend     ; suspend
        .db     0
        ljmp    isr_usb_reset   ; USB reset
        .db     0
        ljmp    isr_unused      ; reserved
        .db     0
        ljmp    isr_unused      ; endpoint 0 IN
        .db     0
        ljmp    isr_unused      ; endpoint 0 OUT
        .db     0
        ljmp    isr_unused      ; endpoint 1 IN
        .db     0
        ljmp    isr_ep1_out     ; endpoint 1 OUT: command packets
        .db     0
        ljmp    isr_unused      ; endpoint 2 IN
        .db     0
        ljmp    isr_ep2_out     ; endpoint 2 OUT: block-write data
        .db     0
        ljmp    isr_unused      ; endpoint 3 IN
        .db     0
        ljmp    isr_unused      ; endpoint 3 OUT
        .db     0
        ljmp    isr_unused      ; endpoint 4 IN
        .db     0
        ljmp    isr_ep4_out     ; endpoint 4 OUT
        .db     0
        ljmp    isr_unused      ; endpoint 5 IN
        .db     0
        ljmp    isr_ep5_out     ; endpoint 5 OUT
        .db     0
        ljmp    isr_unused      ; endpoint 6 IN
        .db     0
        ljmp    isr_ep6_out     ; endpoint 6 OUT
        .db     0
        ljmp    isr_unused      ; endpoint 7 IN
        .db     0
        ljmp    isr_ep7_out     ; endpoint 7 OUT
        .db     0
