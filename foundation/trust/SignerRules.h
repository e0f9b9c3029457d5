#pragma once
// The per-signer rules of the module signature check that need no cryptography: the refused-serial text, the
// signer-name match, the counter-signature time and the root-thumbprint match. Pure functions, so that they are
// judged on their own (a message with several signers cannot be decoded everywhere).
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

using Thumbprint = std::vector<BYTE>;

namespace SignerRules {

// A serial number stored least significant byte first, as hexadecimal text most significant byte first, two lower
// case digits per byte.
std::wstring SerialText(const BYTE* serialLsbFirst, DWORD size);

// True when the text equals an entry of the null-terminated list without regard to case. A null list refuses nothing.
bool IsRefusedSerial(const std::wstring& serialText, const wchar_t* const* refused);

// True when the name is not empty and equals an entry of the null-terminated list without regard to case. A null
// list accepts every non-empty name.
bool IsAcceptedSignerName(const wchar_t* name, const wchar_t* const* accepted);

// A signing-time attribute value of exactly 15 bytes: UTCTime tag, length 13, YYMMDDhhmmss and "Z". YY below 70
// is 20YY, otherwise 19YY. Anything else gives no time.
std::optional<SYSTEMTIME> ParseSigningTime(const BYTE* value, DWORD size);

// True when the thumbprint equals one entry byte for byte; a null list or a count of 0 accepts every root.
bool IsAcceptedRoot(const BYTE* thumbprint, DWORD size, const Thumbprint* accepted, size_t count);

}  // namespace SignerRules
