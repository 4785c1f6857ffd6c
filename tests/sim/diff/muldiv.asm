; DA A over every A with AC and CY in all four states, MUL AB and DIV AB over a table.
; DIV by zero is left out: the 8051 documentation leaves A and B undefined there, so the
; two simulators may differ without either being wrong (the unit tests cover OV and CY).
        .module muldiv
        .include "common.inc"
start:  lcall   init
        mov     r7,#0           ; A value, 256 of them
daloop: mov     r5,#4           ; PSW states: CY/AC combinations
daflag: mov     a,r5
        dec     a
        rr      a
        rr      a               ; bits 1..0 -> 7..6 = CY, AC
        anl     a,#0xc0
        mov     psw,a
        mov     a,r7
        da      a
        lcall   lg
        djnz    r5,daflag
        djnz    r7,daloop
        ; ADD then DA, the way BCD sums are made
        mov     a,#0x38
        add     a,#0x49
        da      a
        lcall   lg
        mov     a,#0x99
        add     a,#0x99
        da      a
        lcall   lg
        mov     dptr,#pairs
        mov     r7,#(pairs_end - pairs) / 2
mdloop: clr     a
        movc    a,@a+dptr
        mov     r6,a
        mov     a,#1
        movc    a,@a+dptr
        mov     r2,a
        inc     dptr
        inc     dptr
        mov     b,r2
        mov     a,r6
        setb    c
        mul     ab
        lcall   lg
        mov     a,b
        lcall   lg
        mov     b,r2
        mov     a,r6
        setb    c
        div     ab
        lcall   lg
        mov     a,b
        lcall   lg
        djnz    r7,mdloop
done:   sjmp    done

pairs:  .db     0x00,0x01, 0x01,0x01, 0xff,0xff, 0x10,0x10, 0x0f,0x11, 0x80,0x02
        .db     0xff,0x01, 0xc8,0x07, 0x07,0xc8, 0x64,0x0a, 0x01,0xff, 0x10,0x0f
pairs_end:
