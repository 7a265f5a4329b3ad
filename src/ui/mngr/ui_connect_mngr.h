// Process-wide registry of instrument managers: creates and destroys them, remembers
// the VISA resource each is bound to and writes the project file. UI thread only.
#pragma once

#include <map>
#include <pugixml.hpp>
#include <string>
#include <utility>
#include <vector>

class plib_mngr_t;

class ui_connect_mngr_t {
public:
    static ui_connect_mngr_t& instance();

    ui_connect_mngr_t() = default;
    ~ui_connect_mngr_t();
    ui_connect_mngr_t(const ui_connect_mngr_t&) = delete;
    ui_connect_mngr_t& operator=(const ui_connect_mngr_t&) = delete;

    // A new unbound manager for model, loading `node` when it is not null.
    plib_mngr_t* create_mngr(const std::string& model, pugi::xml_node node = pugi::xml_node());
    bool is_bound(const std::string& res) const;
    // 1 on success; 0 with " already bound other mngr!" or
    // " mngr is not created by create_mngr function!" on standard output.
    int bind_mngr(const std::string& res, plib_mngr_t* mngr);
    plib_mngr_t* find_mngr(const std::string& res) const;
    plib_mngr_t* create_bound_mngr(const std::string& res, const std::string& model);
    plib_mngr_t* unbind_mngr(const std::string& res);
    void remove_mngr(const std::string& res);
    void release_mngr(plib_mngr_t* mngr, const std::string& res);
    // As release_mngr, but the manager is handed to the caller instead of destroyed
    // (the device items destroy it off the GUI thread). Null when the registry does not
    // hold it under either container.
    plib_mngr_t* take_mngr(plib_mngr_t* mngr, const std::string& res);
    // Header, then every bound manager in resource order, then the unbound ones in
    // creation order; written at once and atomically. Returns 1 (the file was
    // written) or 0 (it could not be, the previous file is intact).
    int save_project(const std::string& path);
    // The whole file as save_project writes it.
    std::string project_text() const;
    void destroy_all();

    const std::map<std::string, plib_mngr_t*>& bound() const { return m_bound; }
    const std::vector<std::pair<std::string, plib_mngr_t*>>& unbound() const { return m_unbound; }

private:
    std::map<std::string, plib_mngr_t*> m_bound;
    std::vector<std::pair<std::string, plib_mngr_t*>> m_unbound;
};
