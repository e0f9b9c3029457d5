#pragma once
// The settings of the bus double (keys: CorluneControl.h): a list of key=value pairs, later pairs winning for
// single values, all pairs of a key kept for lists.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace doubles::corlune {

class Settings {
public:
    // Adds the pairs of a text ("k=v;k=v" or one per line). False when a pair has no '='.
    bool Add(const std::wstring& text);
    // The environment's settings (variable, then file).
    static Settings FromEnvironment();

    std::wstring Text(const std::wstring& key, const std::wstring& fallback = L"") const;
    uint64_t Number(const std::wstring& key, uint64_t fallback) const;
    bool Has(const std::wstring& key) const;
    std::vector<std::wstring> All(const std::wstring& key) const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> pairs_;
};

}  // namespace doubles::corlune
