; The USB descriptor table, served by GET_DESCRIPTOR. Multi-byte fields are little-endian;
; they are written byte by byte because sdas8051's .dw is big-endian.
        .module descriptors
        .globl  desc_device, desc_config, desc_strings

        .area   DESCRIPTORS (ABS,CODE)
        .org    0x0978
desc_device:
        .db     18, 1           ; bLength, DEVICE
        .db     0x00, 0x01      ; bcdUSB 1.00
        .db     0, 0, 0         ; class, subclass, protocol: per interface
        .db     64              ; bMaxPacketSize0
        .db     0x47, 0x05      ; idVendor 0x0547
        .db     0x31, 0x21      ; idProduct 0x2131
        .db     0x01, 0x00      ; bcdDevice 0x0001
        .db     1, 2, 0         ; iManufacturer, iProduct, iSerialNumber
        .db     1               ; bNumConfigurations

desc_config:
        .db     9, 2            ; bLength, CONFIGURATION
        .db     116, 0          ; wTotalLength: configuration, interface, 14 endpoints
        .db     1               ; bNumInterfaces
        .db     1               ; bConfigurationValue
        .db     0               ; iConfiguration
        .db     0xA0            ; bus-powered, remote wake-up
        .db     250             ; 500 mA

        .db     9, 4            ; bLength, INTERFACE
        .db     0, 0            ; interface 0, alternate setting 0
        .db     14              ; endpoints
        .db     0xFF, 0, 0      ; vendor-specific
        .db     0               ; iInterface

; Endpoints: length, ENDPOINT, address, attributes, wMaxPacketSize 64, interval.
; Their order fixes the host driver's pipe numbers 0 to 13.
        .db     7, 5, 0x01, 2, 64, 0, 0 ; pipe 0: 1 OUT bulk, command packets
        .db     7, 5, 0x02, 2, 64, 0, 0 ; pipe 1: 2 OUT bulk, block-write data
        .db     7, 5, 0x03, 2, 64, 0, 0 ; pipe 2: 3 OUT, paired with 2 OUT
        .db     7, 5, 0x04, 2, 64, 0, 0
        .db     7, 5, 0x05, 2, 64, 0, 0
        .db     7, 5, 0x06, 2, 64, 0, 0
        .db     7, 5, 0x07, 2, 64, 0, 0
        .db     7, 5, 0x81, 3, 64, 0, 1 ; pipe 7: 1 IN interrupt
        .db     7, 5, 0x82, 2, 64, 0, 0 ; pipe 8: 2 IN bulk, replies and block reads
        .db     7, 5, 0x83, 2, 64, 0, 0 ; pipe 9: 3 IN, paired with 2 IN
        .db     7, 5, 0x84, 2, 64, 0, 0
        .db     7, 5, 0x85, 2, 64, 0, 0
        .db     7, 5, 0x86, 2, 64, 0, 0
        .db     7, 5, 0x87, 2, 64, 0, 0

; Strings 0, 1, 2 back to back; the length byte of each leads to the next, a zero length
; ends the list.
desc_strings:
        .db     4, 3, 0x09, 0x04                        ; languages: 0x0409
        .db     10, 3, 'W, 0, 'F, 0, 'F, 0, 'W, 0       ; "WFFW", manufacturer
        .db     10, 3, 'V, 0, '1, 0, '0, 0, '0, 0       ; "V100", product
        .db     0, 0
