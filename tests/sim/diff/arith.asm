; ADD, ADDC, SUBB in every addressing mode over operand pairs that hit each flag,
; with the carry in both states; INC and DEC in every mode.
        .module arith
        .include "common.inc"
start:  lcall   init
        mov     dptr,#pairs
        mov     r7,#(pairs_end - pairs) / 2
loop:   clr     a
        movc    a,@a+dptr
        mov     r6,a            ; first operand
        mov     a,#1
        movc    a,@a+dptr
        mov     0x40,a          ; second operand: direct, @R0, R2
        mov     r2,a
        mov     r0,#0x40
        inc     dptr
        inc     dptr
        ; carry clear, then set, for each instruction form
        mov     r5,#2
cyloop: mov     a,r5
        rrc     a               ; CY = bit 0 of r5 (0 first, then 1)
        mov     a,r6
        add     a,0x40
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        addc    a,@r0
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        addc    a,r2
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        subb    a,0x40
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        subb    a,@r0
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        subb    a,r2
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        add     a,@r0
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        add     a,r2
        lcall   lg
        mov     a,r5
        rrc     a
        mov     a,r6
        addc    a,0x40
        lcall   lg
        djnz    r5,cyloop
        djnz    r7,loop
        ; immediate forms
        clr     c
        mov     a,#0x7f
        add     a,#0x01
        lcall   lg
        setb    c
        addc    a,#0x7f
        lcall   lg
        setb    c
        subb    a,#0x80
        lcall   lg
        clr     c
        subb    a,#0x01
        lcall   lg
        setb    c
        mov     a,#0x00
        subb    a,#0x00
        lcall   lg
        ; INC/DEC in every mode, with wrap-around
        mov     a,#0xff
        inc     a
        lcall   lg
        dec     a
        lcall   lg
        mov     0x41,#0xff
        inc     0x41
        dec     0x41
        dec     0x41
        mov     r1,#0x42
        mov     @r1,#0x00
        dec     @r1
        inc     @r1
        inc     @r1
        mov     r3,#0x80
        inc     r3
        dec     r3
        dec     r3
        mov     0x43,r3
        mov     b,#0xff
        inc     b
        mov     0x44,b
done:   sjmp    done

pairs:  .db     0x00,0x00, 0x0f,0x01, 0x7f,0x01, 0x80,0x80, 0xff,0x01, 0x80,0x7f
        .db     0x7f,0x80, 0x08,0x08, 0x99,0x66, 0x01,0x02, 0x80,0x01, 0x10,0x0f
        .db     0xfe,0xff, 0x55,0xaa, 0x3c,0xc4, 0x00,0xff
pairs_end:
