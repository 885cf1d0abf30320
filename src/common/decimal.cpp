#include "common/decimal.h"

#include <cctype>
#include <cstdlib>

bool read_decimal(const char* text, int64_t& out)
{
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text)
        return false;
    out = value;
    return true;
}

int64_t decimal_i64(const char* text)
{
    int64_t value = 0;
    read_decimal(text, value);
    return value;
}

int32_t decimal_i32(const char* text)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(decimal_i64(text))));
}

std::string_view decimal_digits(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    if (*text == '+' || *text == '-')
        ++text;
    while (text[0] == '0' && std::isdigit(static_cast<unsigned char>(text[1])))
        ++text;
    size_t len = 0;
    while (std::isdigit(static_cast<unsigned char>(text[len])))
        ++len;
    return {text, len};
}

uint8_t decimal_u8(const char* text)
{
    return static_cast<uint8_t>(std::strtoul(text, nullptr, 10));
}

uint8_t colour_value(const char* text)
{
    return static_cast<uint8_t>(std::strtoul(text, nullptr, 0) & 0xFF);
}
