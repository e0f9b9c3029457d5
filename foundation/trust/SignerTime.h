#pragma once
// The time at which a signer of a signed message signed, as its time stamp says. The stamp is the first
// unauthenticated attribute of the signer that decodes as a counter-signature (PKCS #9) or as an RFC 3161
// time-stamp token; the counter-signer's first UTCTime signing-time attribute is the time it claims.
//
// A claimed time counts only when the stamp verifies: the counter-signature (or the token's signature, and the
// token's message imprint) covers this signer's encrypted digest, and the time-stamping certificate chains, with
// the time-stamping usage, to a trusted root at that time. A stamp that does not verify gives no time, so that the
// signer is judged at the current time: anyone can make a stamp that claims any time.
#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>
#include <vector>

struct SignerTime {
    bool ok = true;                // false: something failed to decode, the signer is not to be trusted
    std::optional<FILETIME> time;  // none: no verified time stamp, judge at the current time
};

// The verified signing time of the message's signer.
SignerTime ReadSignerTime(HCRYPTMSG message, DWORD signerIndex);

// The time the signer's stamp claims, unverified.
SignerTime ClaimedSignerTime(HCRYPTMSG message, DWORD signerIndex);

// The hash that an RFC 3161 token's content (its TSTInfo, with or without the OCTET STRING around it) says it
// stamps, with the dotted identifier of its hash algorithm. False when the content is not a TSTInfo.
bool ReadMessageImprint(const BYTE* content, DWORD size, std::string& hashAlgorithm, std::vector<BYTE>& hash);
