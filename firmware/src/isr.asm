; The small USB interrupt handlers: each clears INT2 first, then its own request bit
; (write 1 to clear), and leaves the work to the main loop.
        .module isr
        .include "ezusb.inc"

        .globl  isr_resume, isr_sudav, isr_sof, isr_sutok, isr_suspend, isr_usb_reset
        .globl  isr_unused, isr_ep4_out, isr_ep5_out, isr_ep6_out, isr_ep7_out
        .globl  arm_data_out_endpoints

        .area   CSEG (CODE)

; Clears request `mask` in IRQ register `reg`; saves what it uses.
        .macro  irq_handler reg, mask
        push    acc
        push    dpl
        push    dph
        anl     EXIF,#EXIF_USB_CLEAR
        mov     dptr,#reg
        mov     a,#mask
        movx    @dptr,a
        .endm

        .macro  irq_return
        pop     dph
        pop     dpl
        pop     acc
        reti
        .endm

isr_resume:
        clr     RESI
        reti

isr_sudav:
        irq_handler USBIRQ, 0x01
        setb    got_setup
        irq_return

isr_sof:
        irq_handler USBIRQ, 0x02
        irq_return

isr_sutok:
        irq_handler USBIRQ, 0x04
        irq_return

isr_suspend:
        irq_handler USBIRQ, 0x08
        setb    suspend_req
        irq_return

; A USB reset re-arms the OUT endpoints; a command packet still waiting for the main loop
; is dropped, since the host that sent it has reset the bus. While the main loop reads
; that packet, endpoint 1 stays unarmed: a new packet would land in OUT1BUF under it. The
; main loop re-arms it when done.
isr_usb_reset:
        irq_handler USBIRQ, 0x10
        clr     cmd_deferred
        jb      cmd_busy,1$
        mov     dptr,#OUT1BC
        arm_out
1$:     lcall   arm_data_out_endpoints
        irq_return

; Sources that are never enabled.
isr_unused:
        anl     EXIF,#EXIF_USB_CLEAR
        reti

; OUT endpoints 4-7: the packet is dropped and the endpoint re-armed.
        .macro  drop_packet bit, bc
        irq_handler OUT07IRQ, bit
        mov     dptr,#bc
        arm_out
        irq_return
        .endm

isr_ep4_out:
        drop_packet 0x10, OUT4BC
isr_ep5_out:
        drop_packet 0x20, OUT5BC
isr_ep6_out:
        drop_packet 0x40, OUT6BC
isr_ep7_out:
        drop_packet 0x80, OUT7BC
