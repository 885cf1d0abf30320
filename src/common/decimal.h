// Numbers from command lines and tool output, read without error checks but with
// a defined result for every input. Decimal, but for colour_value.
#pragma once

#include <cstdint>
#include <string_view>

// Optional white space, sign and decimal digits, as strtoll reads them; what
// follows the digits is ignored. No digits: false and out untouched. Beyond the
// 64-bit range the value saturates, as strtoll does.
bool read_decimal(const char* text, int64_t& out);

// The signed decimal of text, 0 when it holds no number.
int64_t decimal_i64(const char* text);

// The same kept to 32 bits the way the C library's int conversions keep it on
// this platform: the low 32 bits of the 64-bit value, as two's complement. So
// 4294967297 reads as 1 and 2147483648 as -2147483648.
int32_t decimal_i32(const char* text);

// The digits of the number that text begins with, as written (after white space,
// a sign and leading zeros), however many there are; empty without digits.
std::string_view decimal_digits(const char* text);

// An unsigned decimal (strtoul, base 10) kept modulo 256: every program's -m.
uint8_t decimal_u8(const char* text);

// A colour level: an unsigned number as strtoul reads it with base 0 (decimal,
// "0x" hexadecimal or leading-zero octal), kept to its low 8 bits.
uint8_t colour_value(const char* text);
