// Registry of the supported instrument models and their numeric model codes.
//
// The model name is what the user picks, what the project file stores, what the
// identification is checked against and what selects the driver. The codes only
// order the model lists and key the family maps; they are never stored or shown.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view plib_model_vxa_1 = "VXA-1";
inline constexpr std::string_view plib_model_vxa_2 = "VXA-2";
inline constexpr std::string_view plib_model_vxa_2e = "VXA-2E";
inline constexpr std::string_view plib_model_vxa_3 = "VXA-3";
inline constexpr std::string_view plib_model_vxb_1 = "VXB-1";
inline constexpr std::string_view plib_model_vxb_2 = "VXB-2";
// Known to the driver factory but deliberately not registered (family 0).
inline constexpr std::string_view plib_model_vxb_3 = "VXB-3";

class model_registry_t {
public:
    static constexpr int family_none = 0;
    static constexpr int family_vxa = 1;
    static constexpr int family_vxb = 2;

    // Kinds for model_list.
    static constexpr int list_all = 0;
    static constexpr int list_vxa = family_vxa;
    static constexpr int list_vxb = family_vxb;

    // The one instance, built on first use (thread-safe).
    static const model_registry_t& instance();

    // 1, 2, or 0 when the name is not registered.
    int family_of(std::string_view model_name) const;
    // The model's code, 0 when not registered.
    int model_code(std::string_view model_name) const;
    // Codes 1100..1103 look in the VXA map, 1200..1202 in the VXB map; "" otherwise.
    std::string model_name(int code) const;
    // 1 for 1100..1103, 2 for 1200..1202, else 0 (a pure range check).
    static int family_of_code(int code);
    // Appends model names in ascending code order: kind 1 VXA, 2 VXB, 0 VXA then VXB.
    void model_list(int kind, std::vector<std::string>& out) const;

    model_registry_t(const model_registry_t&) = delete;
    model_registry_t& operator=(const model_registry_t&) = delete;

private:
    model_registry_t();

    std::map<int, std::string> m_vxa_models;  // code -> model name
    std::map<int, std::string> m_vxb_models;  // code -> model name
    std::map<std::string, int, std::less<>> m_family_of_name;
};
