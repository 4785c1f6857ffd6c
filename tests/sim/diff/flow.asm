; Moves in every addressing mode, XCH/XCHD, the stack above 0x7F, register banks,
; MOVX through DPTR and @Ri, MOVC both ways, CJNE, DJNZ, and every jump and call.
        .module flow
        .include "common.inc"
start:  lcall   init
        ; register banks: R0..R7 of each bank hold bank*16 + n
        mov     r6,#0
        mov     r5,#4
bank:   mov     a,r6
        rl      a
        rl      a
        rl      a               ; bank * 8
        orl     a,#0x00
        mov     psw,a
        swap    a               ; bank*8 << 4 wraps: just distinct values
        mov     r0,a
        inc     a
        mov     r1,a
        inc     a
        mov     r2,a
        inc     a
        mov     r3,a
        inc     a
        mov     r4,a
        mov     psw,#0
        inc     r6
        djnz    r5,bank
        ; moves
        mov     0x50,#0x11
        mov     0x51,0x50       ; direct,direct
        mov     r0,#0x52
        mov     @r0,#0x22
        mov     r1,#0x53
        mov     @r1,0x50
        mov     0x54,@r0
        mov     r3,0x51
        mov     0x55,r3
        mov     a,#0x33
        mov     @r0,a
        mov     r4,a
        mov     0x56,a
        mov     a,@r1
        mov     r2,a
        mov     a,0x55
        lcall   lg
        ; XCH, XCHD
        mov     a,#0xab
        mov     0x57,#0xcd
        xch     a,0x57
        lcall   lg
        mov     r0,#0x57
        xch     a,@r0
        lcall   lg
        mov     r5,#0x12
        xch     a,r5
        lcall   lg
        mov     a,#0x9f
        mov     @r0,#0x30
        xchd    a,@r0
        lcall   lg
        ; stack far above 0x7F
        mov     sp,#0xf0
        mov     a,#0x5a
        push    acc
        push    0x50
        push    b
        pop     0x58
        pop     0x59
        pop     b
        mov     a,sp
        lcall   lg
        push    sp              ; pushes the incremented SP
        pop     0x5a
        mov     sp,#0x7f
        push    0x51            ; first push lands at 0x80 (indirect-only RAM)
        mov     r0,#0x80
        mov     a,@r0
        lcall   lg
        ; indirect-only RAM through @Ri
        mov     r1,#0xc0
        mov     @r1,#0x77
        inc     @r1
        mov     a,@r1
        lcall   lg
        mov     sp,#0x80
        ; MOVX: DPTR and @Ri (high byte from P2 on a plain 8051, MPAGE on the EZ-USB:
        ; set both)
        mov     dptr,#0x1800
        mov     a,#0x42
        movx    @dptr,a
        inc     dptr
        inc     a
        movx    @dptr,a
        mov     0xa0,#0x18      ; P2
        mov     0x92,#0x18      ; MPAGE
        mov     r0,#0x02
        mov     a,#0x99
        movx    @r0,a
        mov     r1,#0x00
        movx    a,@r1
        lcall   lg
        mov     dptr,#0x1801
        movx    a,@dptr
        lcall   lg
        ; INC DPTR across a page
        mov     dptr,#0x18ff
        inc     dptr
        mov     a,dph
        lcall   lg
        ; MOVC with A+PC and A+DPTR
        mov     a,#2
        movc    a,@a+pc
        sjmp    pcdone
        .db     0x00,0x00,0xee
pcdone: lcall   lg
        mov     dptr,#table
        mov     a,#3
        movc    a,@a+dptr
        lcall   lg
        ; JMP @A+DPTR through a table of AJMPs
        mov     dptr,#jtab
        mov     a,#2
        jmp     @a+dptr
jtab:   ajmp    bad
        ajmp    good
bad:    mov     0x5b,#0xee
good:   mov     0x5c,#0x01
        ; CJNE in all forms, equal and not, with the carry they leave
        mov     a,#0x10
        cjne    a,#0x20,c1
c1:     lcall   lg
        cjne    a,#0x10,c2
c2:     lcall   lg
        mov     0x40,#0x05
        cjne    a,0x40,c3
c3:     lcall   lg
        mov     r0,#0x40
        cjne    @r0,#0x06,c4
c4:     lcall   lg
        mov     r7,#0xff
        cjne    r7,#0x00,c5
c5:     lcall   lg
        ; DJNZ direct and Rn
        mov     0x41,#3
        mov     r6,#0
dj:     inc     r6
        djnz    0x41,dj
        mov     r5,#0           ; 256 turns
dj2:    inc     0x42
        djnz    r5,dj2
        mov     a,r6
        lcall   lg
        ; JZ/JNZ, SJMP backwards, LJMP/LCALL/ACALL/RET, the 0xA5 no-op
        clr     a
        jz      z1
        mov     0x43,#0xee
z1:     inc     a
        jnz     z2
        mov     0x43,#0xdd
z2:     acall   sub1
        lcall   sub2
        .db     0xa5
        ljmp    far
back:   mov     0x45,#0x45
        sjmp    fin
far:    sjmp    back
fin:    mov     a,0x44
        lcall   lg
done:   sjmp    done

sub1:   mov     0x44,#0x10
        ret
sub2:   inc     0x44
        ret
table:  .db     0x01,0x02,0x03,0x04,0x05
