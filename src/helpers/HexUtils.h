#pragma once

// Hexadecimal digits, shared by the SMC value text, the key dump reader and the language files.
namespace HexUtils {

// The value of one hexadecimal digit, or -1. Upper-case digits count unless bLowerCaseOnly.
inline int digitValue(char c, bool bLowerCaseOnly = false)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (!bLowerCaseOnly && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace HexUtils
