; ANL, ORL, XRL in every form (A and direct destinations), rotates, SWAP, CPL, CLR.
        .module logic
        .include "common.inc"
start:  lcall   init
        mov     dptr,#pairs
        mov     r7,#(pairs_end - pairs) / 2
loop:   clr     a
        movc    a,@a+dptr
        mov     r6,a
        mov     a,#1
        movc    a,@a+dptr
        mov     0x40,a
        mov     r2,a
        mov     r0,#0x40
        inc     dptr
        inc     dptr
        mov     a,r6
        anl     a,0x40
        lcall   lg
        mov     a,r6
        anl     a,@r0
        lcall   lg
        mov     a,r6
        orl     a,r2
        lcall   lg
        mov     a,r6
        orl     a,@r0
        lcall   lg
        mov     a,r6
        xrl     a,0x40
        lcall   lg
        mov     a,r6
        xrl     a,r2
        lcall   lg
        ; direct destinations
        mov     0x41,r6
        mov     a,r2
        anl     0x41,a
        mov     a,0x41
        lcall   lg
        mov     0x41,r6
        orl     0x41,a
        mov     a,0x41
        lcall   lg
        mov     0x41,r6
        mov     a,r2
        xrl     0x41,a
        mov     a,0x41
        lcall   lg
        mov     0x41,r6
        anl     0x41,#0x5a
        orl     0x41,#0x81
        xrl     0x41,#0x3c
        mov     a,0x41
        lcall   lg
        ; rotates and friends, with the carry both ways
        mov     a,r6
        setb    c
        rlc     a
        lcall   lg
        rrc     a
        lcall   lg
        clr     c
        rrc     a
        lcall   lg
        rlc     a
        lcall   lg
        rl      a
        lcall   lg
        rr      a
        rr      a
        lcall   lg
        swap    a
        lcall   lg
        cpl     a
        lcall   lg
        djnz    r7,loop
        mov     a,#0x96
        anl     a,#0xf0
        orl     a,#0x03
        xrl     a,#0xff
        lcall   lg
        clr     a
        lcall   lg
        ; SFR destinations: B and PSW through direct logic
        mov     b,#0x0f
        orl     b,#0xf0
        xrl     b,#0x55
        anl     psw,#0x00
        orl     psw,#0x18
        mov     a,b
        lcall   lg
        mov     psw,#0
done:   sjmp    done

pairs:  .db     0x00,0xff, 0xff,0x00, 0xa5,0x5a, 0x81,0x18, 0xf0,0x3c, 0x01,0x80
        .db     0x7e,0xe7, 0xcc,0xaa
pairs_end:
