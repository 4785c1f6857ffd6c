; Command packets on endpoint 1 OUT. Each packet holds commands back to back: a command
; byte (high nibble = operation, low nibble = n) and its parameter bytes. Replies of all
; commands of one packet go out together as one packet on endpoint 2 IN.
;
; The packet is handled in the interrupt unless that would disturb endpoint 2 IN: while
; the block-read pump is filling a packet, or while the packet has reply bytes and
; endpoint 2 IN has no free buffer, it waits in OUT1BUF (endpoint 1 OUT stays unarmed, so
; the host is held off) and the main loop runs it as soon as it can.
        .module commands
        .include "ezusb.inc"
        .include "context.inc"

        .globl  isr_ep1_out, try_deferred_commands

        .area   CSEG (CODE)

isr_ep1_out:
        save_context
        anl     EXIF,#EXIF_USB_CLEAR
        mov     dptr,#OUT07IRQ
        mov     a,#0x02
        movx    @dptr,a
        jb      pump_busy,2$
        lcall   ready_to_run
        jnc     2$
        lcall   run_commands
        sjmp    3$
2$:     setb    cmd_deferred
3$:     restore_context
        reti

; Main loop: runs the waiting packet once endpoint 2 IN can take its reply. While cmd_busy
; is set a bus reset drops the packet but leaves endpoint 1 OUT unarmed, since we may be
; reading OUT1BUF; we then re-arm it ourselves. Each look at the flags that decides what
; happens next is made with interrupts off, so no reset falls between look and act.
try_deferred_commands:
        clr     ea
        jnb     cmd_deferred,9$ ; a bus reset dropped it and re-armed endpoint 1
        setb    cmd_busy
        setb    ea
        lcall   ready_to_run    ; C = 1: it can run now
        clr     ea
        jnb     cmd_deferred,1$ ; a bus reset dropped it while we looked
        jnc     2$              ; endpoint 2 IN still full: it waits for the next pass
        clr     cmd_deferred
        setb    ea
        lcall   run_commands    ; re-arms endpoint 1 OUT
        clr     cmd_busy
        ret
1$:     mov     dptr,#OUT1BC
        arm_out
2$:     clr     cmd_busy
9$:     setb    ea
        ret

; C = 1 when the packet can run now: it has no reply bytes, or endpoint 2 IN has a free
; buffer. Uses r0, r2, r3, r5.
ready_to_run:
        mov     dptr,#IN2CS
        movx    a,@dptr
        jnb     acc.1,9$        ; a free buffer: always fine
        lcall   packet_bounds
1$:     mov     a,r0
        clr     c
        subb    a,r2
        jnc     9$              ; end of packet, no reply byte
        movx    a,@r0
        swap    a
        anl     a,#0x0F
        mov     r3,a
        lcall   command_end
        jc      9$              ; a cut-off command is ignored
        mov     a,r3
        cjne    a,#2,2$
        sjmp    8$
2$:     cjne    a,#4,3$
        sjmp    8$
3$:     cjne    a,#7,4$
8$:     clr     c               ; a reply byte and no buffer: wait
        ret
4$:     mov     a,r5
        mov     r0,a
        sjmp    1$
9$:     setb    c
        ret

; MPAGE, r0 = start and r2 = end of the packet in OUT1BUF (low address bytes).
packet_bounds:
        mov     MPAGE,#CMDPAGE
        mov     dptr,#OUT1BC
        movx    a,@dptr
        add     a,#<OUT1BUF
        mov     r2,a
        mov     r0,#<OUT1BUF
        ret

; r5 = end of the command at r0 whose operation is in r3. C = 1 if its parameter bytes
; would lie past the packet end r2: the command is then ignored, and nothing is read
; beyond the packet.
command_end:
        mov     a,r3
        mov     dptr,#command_length
        movc    a,@a+dptr
        add     a,r0
        mov     r5,a
        mov     a,r2
        clr     c
        subb    a,r5
        ret

command_length:
        .db     1, 1, 1, 2, 1, 4, 4, 1, 1, 1, 1, 1, 1, 1, 1, 2

; Runs every command of the packet, sends the gathered replies, re-arms endpoint 1 OUT.
; Registers (either bank): r0 command, r1 reply write position in IN2BUF, r2 packet end,
; r3 operation, r4 n, r5 next command, r6-r7 scratch.
run_commands:
        lcall   packet_bounds
        mov     r1,#<IN2BUF
next_command:
        mov     a,r0
        clr     c
        subb    a,r2
        jnc     packet_done
        movx    a,@r0
        anl     a,#0x0F
        mov     r4,a
        movx    a,@r0
        swap    a
        anl     a,#0x0F
        mov     r3,a
        lcall   command_end
        jc      packet_done
        mov     a,r3
        mov     b,#3
        mul     ab
        mov     dptr,#operation_table
        jmp     @a+dptr

operation_table:
        ljmp    op_direction    ; 0x0n
        ljmp    op_mode         ; 0x1n
        ljmp    op_status       ; 0x2n
        ljmp    op_write_reg    ; 0x3n
        ljmp    op_read_reg     ; 0x4n
        ljmp    op_block        ; 0x5n: block write
        ljmp    op_block        ; 0x6n: block read
        ljmp    op_unfilled     ; 0x7n
        ljmp    command_done    ; 0x8n-0xEn: no operation, skipped
        ljmp    command_done
        ljmp    command_done
        ljmp    command_done
        ljmp    command_done
        ljmp    command_done
        ljmp    command_done
        ljmp    op_bus_timing   ; 0xFn

command_done:
        mov     a,r5
        mov     r0,a
        sjmp    next_command

packet_done:
        mov     a,r1            ; reply bytes gathered
        jz      1$
        mov     dptr,#IN2BC
        movx    @dptr,a
1$:     mov     dptr,#OUT1BC    ; any value re-arms
        arm_out
        ret

; Mode lines = n (the whole port C latch).
put_mode:
        mov     dptr,#OUTC
        mov     a,r4
        movx    @dptr,a
        ret

; Appends `a` to the reply; bytes past one 64-byte packet are dropped rather than
; written over OUT1BUF, which follows IN2BUF.
reply_byte:
        cjne    r1,#<IN2BUF+64,1$
1$:     jnc     2$
        movx    @r1,a
        inc     r1
2$:     ret

op_direction:                   ; port C output enables = the command byte
        mov     dptr,#OEC
        movx    a,@r0
        movx    @dptr,a
        sjmp    command_done

op_mode:
        lcall   put_mode
        sjmp    command_done

op_status:                      ; reply: the eight port C pin levels
        lcall   put_mode
        mov     dptr,#PINSC
        movx    a,@dptr
        lcall   reply_byte
        sjmp    command_done

; The parameter byte is read through the autopointer: with fast transfers on, that one
; read drives it onto the data bus with a write strobe.
op_write_reg:
        lcall   put_mode
        mov     dptr,#AUTOPTRH
        mov     a,#CMDPAGE
        movx    @dptr,a
        inc     dptr
        mov     a,r0
        inc     a
        movx    @dptr,a
        mov     dptr,#AUTODATA
        movx    a,@dptr
        sjmp    command_done

; A write through the autopointer strobes the data bus into the reply. With the reply
; packet full there is nowhere to put the byte, so no strobe is given.
op_read_reg:
        lcall   put_mode
        cjne    r1,#<IN2BUF+64,1$
1$:     jnc     command_done
        mov     dptr,#AUTOPTRH
        mov     a,#CMDPAGE
        movx    @dptr,a
        inc     dptr
        mov     a,r1
        movx    @dptr,a
        mov     dptr,#AUTODATA
        movx    @dptr,a
        inc     r1
        sjmp    command_done

; 0x5n / 0x6n p1 p2 p3: tail = p1 & 0x3F, packets = p3:p2; direction from the operation.
op_block:
        lcall   put_mode
        mov     a,r3
        anl     a,#0x01         ; 5 -> 1 (write), 6 -> 0 (read)
        mov     r7,a
        clr     ea              ; other handlers read this state: change it at once
        mov     dptr,#DIRECTION
        movx    @dptr,a
        inc     r0
        movx    a,@r0           ; p1
        anl     a,#0x3F
        mov     dptr,#TAIL
        movx    @dptr,a
        inc     r0
        movx    a,@r0           ; p2
        mov     dptr,#PACKETS_LO
        movx    @dptr,a
        inc     r0
        movx    a,@r0           ; p3
        mov     dptr,#PACKETS_HI
        movx    @dptr,a
        mov     a,r7
        jnz     1$
        mov     dptr,#COUNTER   ; a block read starts counting afresh
        clr     a
        movx    @dptr,a
        inc     dptr
        movx    @dptr,a
        inc     dptr
        movx    @dptr,a
        inc     dptr
        movx    @dptr,a
1$:     setb    ea
        ljmp    command_done

op_unfilled:                    ; reply: counter bits 7-0, then 15-8
        mov     dptr,#COUNTER+3
        movx    a,@dptr
        lcall   reply_byte
        mov     dptr,#COUNTER+2
        movx    a,@dptr
        lcall   reply_byte
        ljmp    command_done

; 0xFn p: MOVX stretch 0 for n = 0, else 1; FASTXFR = p with fast block transfers kept on.
op_bus_timing:
        mov     a,r4
        jz      1$
        mov     a,#1
1$:     mov     r6,a
        mov     a,CKCON
        anl     a,#0xF8
        orl     a,r6
        mov     CKCON,a
        inc     r0
        movx    a,@r0
        orl     a,#0x40
        mov     dptr,#FASTXFR
        movx    @dptr,a
        ljmp    command_done
