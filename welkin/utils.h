#pragma once
// Text helpers shared by the OEM manager's steps.
#include <string>
#include <vector>

// Splits at each occurrence of the whole delimiter; a run of delimiter characters after a piece starts no empty
// piece, but a source that begins with the delimiter gives an empty first piece. Appends; returns the count appended.
size_t SplitString(const std::wstring& source, const std::wstring& delimiter, std::vector<std::wstring>& pieces);
