; Standard requests on endpoint 0, served from the main loop after SUDAV. Everything this
; table does not name is stalled, vendor and class requests included.
        .module setup
        .include "ezusb.inc"

        .globl  serve_setup
        .globl  desc_device, desc_config, desc_strings

        .area   CSEG (CODE)

serve_setup:
        clr     got_setup
        ; Copy the SETUP packet: a new one may arrive while we answer this one.
        mov     MPAGE,#REGPAGE
        mov     r0,#<SETUPDAT
        mov     r1,#SETUP_COPY
1$:     movx    a,@r0
        mov     @r1,a
        inc     r0
        inc     r1
        cjne    r1,#SETUP_COPY+8,1$

        mov     a,bmRequestType
        anl     a,#0x60
        jnz     stall           ; not a standard request
        mov     a,bRequest
        clr     c
        subb    a,#12
        jnc     stall
        mov     a,bRequest
        mov     b,#3
        mul     ab
        mov     dptr,#request_table
        jmp     @a+dptr

request_table:
        ljmp    get_status      ; 0
        ljmp    clear_feature   ; 1
        ljmp    stall           ; 2
        ljmp    set_feature     ; 3
        ljmp    stall           ; 4
        ljmp    stall           ; 5 SET_ADDRESS: the chip's USB core serves it
        ljmp    get_descriptor  ; 6
        ljmp    stall           ; 7 SET_DESCRIPTOR
        ljmp    get_config      ; 8
        ljmp    set_config      ; 9
        ljmp    get_interface   ; 10
        ljmp    set_interface   ; 11

stall:
        mov     a,#EP0CS_STALL|EP0CS_HSNAK
        sjmp    ep0_end
done:
        mov     a,#EP0CS_HSNAK  ; lets the core finish the status stage
ep0_end:
        mov     dptr,#EP0CS
        movx    @dptr,a
        ret

; Answers with `a` as the one data byte.
reply_one_byte:
        mov     dptr,#IN0BUF
        movx    @dptr,a
        mov     dptr,#IN0BC
        mov     a,#1
        movx    @dptr,a
        sjmp    done

get_config:
        mov     a,config_value
        sjmp    reply_one_byte
set_config:
        mov     config_value,wValueL
        sjmp    done
get_interface:
        mov     a,alt_setting
        sjmp    reply_one_byte
set_interface:
        mov     alt_setting,wValueL
        sjmp    done

get_status:
        mov     a,bmRequestType
        anl     a,#0x1F
        jz      1$
        cjne    a,#1,2$
        clr     a               ; interface: 0
        sjmp    3$
1$:     clr     a               ; device: bit 1 remote wake-up, never self-powered
        mov     c,rwuen
        rlc     a
        rl      a
        sjmp    3$
2$:     cjne    a,#2,stall
        lcall   endpoint_cs     ; endpoint: its stall bit
        movx    a,@dptr
        anl     a,#0x01
3$:     mov     dptr,#IN0BUF
        movx    @dptr,a
        inc     dptr
        clr     a
        movx    @dptr,a
        mov     dptr,#IN0BC
        mov     a,#2
        movx    @dptr,a
        sjmp    done

; DPTR = the control/status register of the endpoint in wIndexL (EP0CS for either
; direction of endpoint 0).
endpoint_cs:
        mov     a,wIndexL
        anl     a,#0x07
        jz      2$
        mov     b,a
        mov     a,wIndexL
        jb      acc.7,1$
        mov     a,b
        add     a,#8            ; OUT endpoints follow the eight IN ones
        mov     b,a
1$:     mov     a,b
2$:     rl      a               ; two registers per endpoint
        add     a,#<EP0CS
        mov     dpl,a
        mov     dph,#>EP0CS
        ret

clear_feature:
        clr     f0
        sjmp    feature
set_feature:
        setb    f0
feature:
        mov     a,bmRequestType
        anl     a,#0x1F
        jnz     1$
        mov     a,wValueL       ; device: only remote wake-up
        cjne    a,#1,feature_stall
        mov     c,f0
        mov     rwuen,c
        sjmp    feature_done
1$:     cjne    a,#2,feature_done      ; interface and others: accepted, nothing to do
        mov     a,wValueL       ; endpoint: only halt
        jnz     feature_stall
        lcall   endpoint_cs
        jnb     f0,2$
        mov     a,#0x01         ; only the stall bit is written, never busy
        movx    @dptr,a
        mov     a,dpl           ; endpoint 0: ending the request with HSNAK alone would
        cjne    a,#<EP0CS,feature_done ; clear the stall again at once
        sjmp    feature_stall
2$:     clr     a
        movx    @dptr,a
        mov     a,wIndexL       ; back to DATA0: select the endpoint, then reset
        anl     a,#0x80
        swap    a
        rl      a               ; IO bit 4 = direction
        mov     b,a
        mov     a,wIndexL
        anl     a,#0x07
        orl     a,b
        mov     dptr,#TOGCTL
        movx    @dptr,a
        orl     a,#0x20
        movx    @dptr,a
        sjmp    feature_done
feature_done:
        ljmp    done
feature_stall:
        ljmp    stall

get_descriptor:
        mov     a,wValueH
        cjne    a,#1,1$
        mov     dptr,#desc_device
        sjmp    send_descriptor
1$:     cjne    a,#2,2$
        mov     a,wValueL       ; one configuration only
        jnz     stall_far
        mov     dptr,#desc_config
        mov     a,#2            ; its length is wTotalLength, not bLength
        movc    a,@a+dptr
        mov     r3,a
        mov     a,#3
        movc    a,@a+dptr
        mov     r2,a
        sjmp    send_block
2$:     cjne    a,#3,stall_far
        mov     dptr,#desc_strings
        mov     r7,wValueL
3$:     clr     a               ; walk the list by the length bytes
        movc    a,@a+dptr
        jz      stall_far       ; past the last string
        mov     r3,a
        mov     a,r7
        jz      4$
        dec     r7
        mov     a,r3
        add     a,dpl
        mov     dpl,a
        clr     a
        addc    a,dph
        mov     dph,a
        sjmp    3$
4$:     mov     r2,#0
        sjmp    send_block
stall_far:
        ljmp    stall

; The descriptor at DPTR, length in its first byte.
send_descriptor:
        clr     a
        movc    a,@a+dptr
        mov     r3,a
        mov     r2,#0
; Sends r2:r3 bytes from code address DPTR, cut to wLength, in pieces of at most 64.
send_block:
        mov     a,r3            ; r2:r3 = min(r2:r3, wLength)
        clr     c
        subb    a,wLengthL
        mov     a,r2
        subb    a,wLengthH
        jc      1$
        mov     r3,wLengthL
        mov     r2,wLengthH
1$:     mov     a,r2
        orl     a,r3
        jz      done_far        ; nothing asked: no data stage
        mov     MPAGE,#>IN0BUF
        ; wait until the core has sent the previous piece; a new SETUP ends this one
2$:     jb      got_setup,abandoned
        mov     r0,#<EP0CS
        movx    a,@r0
        jb      acc.2,2$
        mov     r4,#64          ; piece = min(remaining, 64)
        mov     a,r2
        jnz     4$
        mov     a,r3
        cjne    a,#64,5$
5$:     jnc     4$
        mov     r4,a
4$:     mov     a,r4
        mov     r5,a
        mov     r0,#<IN0BUF
6$:     clr     a
        movc    a,@a+dptr
        movx    @r0,a
        inc     r0
        inc     dptr
        djnz    r5,6$
        mov     r0,#<IN0BC
        mov     a,r4
        movx    @r0,a
        mov     a,r3            ; remaining -= piece
        clr     c
        subb    a,r4
        mov     r3,a
        mov     a,r2
        subb    a,#0
        mov     r2,a
        orl     a,r3
        jnz     2$
done_far:
        ljmp    done
abandoned:
        ret
