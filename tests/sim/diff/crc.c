/* An SDCC-compiled workload: fills xdata with a pseudo-random pattern, then runs a
 * bitwise CRC-16/CCITT over the 4 KiB of code memory and a CRC-32 over the xdata buffer,
 * with 16- and 32-bit arithmetic, multiplication and division from SDCC's library. */
#include <stdint.h>

#define BUF_SIZE 3072

__xdata uint8_t buf[BUF_SIZE];
uint16_t crc16;
uint32_t crc32;
uint16_t quotient, remainder;
uint32_t product;

void done(void) {
    for (;;) {
    }
}

static uint16_t Crc16Code(void) {
    const __code uint8_t* p = (const __code uint8_t*)0;
    uint16_t crc = 0xFFFF;
    uint16_t n;
    uint8_t bit;
    for (n = 0; n < 4096; ++n) {
        crc ^= (uint16_t)p[n] << 8;
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
    }
    return crc;
}

static uint32_t Crc32Buf(void) {
    uint32_t crc = 0xFFFFFFFFUL;
    uint16_t n;
    uint8_t bit;
    for (n = 0; n < BUF_SIZE; ++n) {
        crc ^= buf[n];
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320UL : crc >> 1;
    }
    return ~crc;
}

void main(void) {
    uint16_t n;
    uint16_t x = 12345;
    for (n = 0; n < BUF_SIZE; ++n) {
        x = x * 25173u + 13849u;
        buf[n] = (uint8_t)(x >> 8);
    }
    crc16 = Crc16Code();
    crc32 = Crc32Buf();
    quotient = crc16 / 37u;
    remainder = crc16 % 37u;
    product = (uint32_t)crc16 * 40503u;
    done();
}
