// The resource strings the add-device and change-address dialogs offer: those the
// user typed in (`saved`, kept in memory for the session) and those the last search
// found (`found`). One registry per process.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct cfg_identity_t;

// Time one found resource may take to answer "*IDN?" in a search, and how many are
// asked at once (each on a link engine of its own).
constexpr int resource_identify_timeout_ms = 1000;
constexpr size_t resource_identify_batch = 8;

// Asks "*IDN?" of every resource, in parallel batches, each within its time-out; the
// replies' fields in the resources' order, empty fields where nothing readable came.
std::vector<cfg_identity_t> resource_identify_all(const std::vector<std::string>& resources);

class resource_registry_t {
public:
    // Discovery: appends the resources that can be opened now; returns a VISA status.
    using search_t = std::function<int(std::vector<std::string>&)>;

    static resource_registry_t& instance();

    // The default search builds a temporary link engine and asks it; tests give their own.
    explicit resource_registry_t(search_t search = search_t());
    resource_registry_t(const resource_registry_t&) = delete;
    resource_registry_t& operator=(const resource_registry_t&) = delete;

    // Inserts into `saved`; false if it was there already.
    bool add(const std::string& resource);
    // 1 if it was erased from `saved`, else 0.
    int remove(const std::string& resource);
    // Appends `saved`, then `found`, each in ascending order.
    void list_all(std::vector<std::string>& out) const;
    // Runs a search (which replaces `found`), then appends `found`.
    void search_found(std::vector<std::string>& out);
    // Runs a search, then list_all.
    void search_all(std::vector<std::string>& out);

    // The name of the resource file; the registry holds it but neither reads nor writes it.
    const std::string& resource_file() const { return m_resource_file; }

private:
    void _search();

    search_t m_search;
    const std::string m_resource_file = "resource.ini";
    // Guards m_saved and m_found: the search thread replaces `found` while the UI reads.
    mutable std::mutex m_mutex;
    std::set<std::string> m_saved;
    std::set<std::string> m_found;
};
