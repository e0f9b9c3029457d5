#pragma once
// The time at which a signer of a signed message signed, as its counter-signer says: the first unauthenticated
// attribute that decodes as a counter-signature (PKCS #9) or as an RFC 3161 time-stamp token gives the
// counter-signer, whose first UTCTime signing-time attribute is the time.
#include <windows.h>
#include <wincrypt.h>

#include <optional>

struct SignerTime {
    bool ok = true;                // false: something failed to decode, the signer is not to be trusted
    std::optional<FILETIME> time;  // none: no time stamp, judge at the current time
};

SignerTime ReadSignerTime(HCRYPTMSG message, DWORD signerIndex);
